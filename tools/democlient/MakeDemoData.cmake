# Writes the data files of the demo payload below DEMO_DIR: a few hundred
# files in nested folders, a few of them several MB, all with fixed content,
# and last data/manifest.txt, which lists them (the build's sign that the
# data is complete).
#
#   cmake -DDEMO_DIR=<folder> -P MakeDemoData.cmake

if(NOT DEMO_DIR)
  message(FATAL_ERROR "DEMO_DIR is not set")
endif()

file(REMOVE_RECURSE ${DEMO_DIR}/data ${DEMO_DIR}/locale)
set(manifest "")

# `bytes` bytes of text that depend only on `seed`: hex digests of a chain.
function(filler out seed bytes)
  set(block "")
  set(digest "${seed}")
  foreach(i RANGE 15)
    string(SHA256 digest "${digest}")
    string(APPEND block "${digest}\n")
  endforeach()
  # 16 lines of 65 characters: 1040 bytes.
  math(EXPR repeats "${bytes} / 1040 + 1")
  string(REPEAT "${block}" ${repeats} text)
  string(SUBSTRING "${text}" 0 ${bytes} text)
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(demo_file relative content)
  file(WRITE ${DEMO_DIR}/${relative} "${content}")
  string(LENGTH "${content}" size)
  set(manifest "${manifest}${relative} ${size}\n" PARENT_SCOPE)
endfunction()

set(regions asia_east asia_south europe north_america oceania)

# Route maps: 5 regions x 24 maps, 2 to 13 KB each.
foreach(region IN LISTS regions)
  foreach(n RANGE 1 24)
    math(EXPR kb "2 + (${n} * 7) % 12")
    math(EXPR bytes "${kb} * 1024")
    filler(body "${region}-map-${n}" ${bytes})
    demo_file("data/maps/${region}/map_${n}.map" "LRMAP 1\nregion=${region}\nindex=${n}\n${body}")
  endforeach()
endforeach()

# Node lists: 5 regions x 16 small JSON files.
set(region_number 0)
foreach(region IN LISTS regions)
  math(EXPR region_number "${region_number} + 1")
  foreach(n RANGE 1 16)
    math(EXPR port "20000 + ${region_number} * 100 + ${n}")
    demo_file("data/nodes/${region}/nodes_${n}.json"
      "{\"region\":\"${region}\",\"node\":${n},\"address\":\"10.${region_number}.${n}.1\",\"port\":${port},\"protocol\":\"udp\"}\n")
  endforeach()
endforeach()

# Per-game routing rules: 60 files.
foreach(n RANGE 1001 1060)
  filler(body "game-${n}" 1500)
  demo_file("data/games/game_${n}.rule" "[game]\nid=${n}\n[rules]\n${body}")
endforeach()

# Interface texts: 2 languages x 10 files.
foreach(lang zh_CN en_US)
  foreach(n RANGE 1 10)
    filler(body "${lang}-${n}" 800)
    demo_file("locale/${lang}/strings_${n}.lng" "lang=${lang}\n${body}")
  endforeach()
endforeach()

# Resource packs, the bulk of the payload: 2 to 5 MB each.
foreach(n RANGE 0 3)
  math(EXPR bytes "(2 + ${n}) * 1024 * 1024")
  filler(body "core-pack-${n}" ${bytes})
  demo_file("data/pack/core_${n}.pak" "${body}")
endforeach()

file(WRITE ${DEMO_DIR}/data/manifest.txt "${manifest}")
