#include "Network.h"
Network::Network() {}
Network::~Network() {}
void Network::httpGetRequest(QString) {}
void Network::httpRequest(QString, QByteArray) {}
void Network::httpRequestFormdate(QString, QHttpMultiPart *) {}
void Network::replyTimeOut() {}
void Network::replyFinished(QNetworkReply *) {}
void Network::jsonReply(QByteArray, QNetworkReply *) {}
bool Network::addFormdata(QHttpMultiPart *, QString, QByteArray) { return true; }
void Network::httpRequestByte(QUrl, QString) {}
void Network::byteReadyRead() {}
void Network::byteDownloadFinish(bool, int) {}
void Network::getDomain() {}
void Network::initRequest() {}
void Network::reportinstall() {}
void Network::sendReportError(QString, QString) {}
