# cmake -DLABEL=src/core/name -DFOLDER=dir -DCORE="base;song;..." -DOWN=name -DSHARED=app/picture
#       -DQT=ON|OFF -DSTAMP=file
#       -P CheckLayerIncludes.cmake
# Fails if a file of FOLDER includes
#   - a core folder not in CORE (the folders below it in the layer order, or all of them for a face),
#   - a project header by <...> (ours are included as "core/...", rooted at src/),
#   - a header by a path that climbs ("../"),
#   - the other face (src/cli or src/app; OWN names the folder's own face, if it is one), but for
#     SHARED, a folder of src/app both faces link (the chart picture, whose header has no Qt),
#   - a Qt header, unless QT is ON;
# writes STAMP otherwise.
cmake_minimum_required(VERSION 3.25)

file(GLOB_RECURSE files ${FOLDER}/*.h ${FOLDER}/*.cpp)
set(faults "")
foreach(file IN LISTS files)
    file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    foreach(line IN LISTS includes)
        if(line MATCHES "<(core|cli|app)/")
            string(APPEND faults "\n  ${file}: ${line} (include our headers as \"${CMAKE_MATCH_1}/...\")")
        elseif(line MATCHES "[<\"]\\.\\./")
            string(APPEND faults "\n  ${file}: ${line} (no climbing includes: root them at src/)")
        elseif(line MATCHES "\"core/([a-z_]+)/")
            if(NOT CMAKE_MATCH_1 IN_LIST CORE)
                string(APPEND faults "\n  ${file}: ${line} (${LABEL} may use only: ${CORE})")
            endif()
        elseif(SHARED AND line MATCHES "\"${SHARED}/")
        elseif(line MATCHES "\"(cli|app)/")
            if(NOT CMAKE_MATCH_1 STREQUAL "${OWN}")
                string(APPEND faults "\n  ${file}: ${line} (${LABEL} does not use src/${CMAKE_MATCH_1})")
            endif()
        elseif(line MATCHES "<Q" AND NOT QT)
            string(APPEND faults "\n  ${file}: ${line} (${LABEL} uses no Qt)")
        endif()
    endforeach()
endforeach()
if(faults)
    message(FATAL_ERROR "Includes against the layer order:${faults}")
endif()
file(TOUCH ${STAMP})
