# The engine's folders, lowest first. A folder may include headers of its own and of the folders
# before it, never of a folder after it; the build fails on such an include.
set(ZENTROWE_LAYER_ORDER base song chart convert chartset keysound audio workflow)

# zentrowe_add_layer(NAME [DEPENDS lower...])
# The static library zentrowe_NAME for src/core/NAME, linked to the libraries it builds on, and
# checked (at every build that touches one of its files) for includes against the layer order.
function(zentrowe_add_layer name)
    cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
    add_library(zentrowe_${name} STATIC)
    target_compile_features(zentrowe_${name} PUBLIC cxx_std_20)
    target_include_directories(zentrowe_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(zentrowe_${name} PRIVATE zentrowe_warnings PUBLIC zentrowe_sanitize)
    foreach(lower IN LISTS ARG_DEPENDS)
        target_link_libraries(zentrowe_${name} PUBLIC zentrowe_${lower})
    endforeach()
    add_subdirectory(${name})

    list(FIND ZENTROWE_LAYER_ORDER ${name} position)
    if(position LESS 0)
        message(FATAL_ERROR "src/core/${name} is not in the layer order (cmake/ZentroweLayers.cmake)")
    endif()
    list(SUBLIST ZENTROWE_LAYER_ORDER 0 ${position} allowed)
    list(APPEND allowed ${name})
    zentrowe_check_includes(zentrowe_${name} src/core/${name} ${CMAKE_CURRENT_SOURCE_DIR}/${name}
        CORE ${allowed})
endfunction()

# zentrowe_check_includes(TARGET LABEL FOLDER [QT] [OWN cli|app] [SHARED app/picture] CORE layers...)
# Checks FOLDER's includes (see CheckLayerIncludes.cmake) before TARGET builds, again whenever
# one of its files changes.
function(zentrowe_check_includes target label folder)
    cmake_parse_arguments(ARG "QT" "OWN;SHARED" "CORE" ${ARGN})
    file(GLOB_RECURSE checked_files CONFIGURE_DEPENDS ${folder}/*.h ${folder}/*.cpp)
    string(MAKE_C_IDENTIFIER ${label} stem)
    set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${stem}_include_check.stamp)
    set(qt OFF)
    if(ARG_QT)
        set(qt ON)
    endif()
    add_custom_command(OUTPUT ${stamp}
        COMMAND ${CMAKE_COMMAND} -DLABEL=${label} -DFOLDER=${folder} "-DCORE=${ARG_CORE}"
                -DOWN=${ARG_OWN} -DSHARED=${ARG_SHARED} -DQT=${qt} -DSTAMP=${stamp}
                -P ${PROJECT_SOURCE_DIR}/cmake/CheckLayerIncludes.cmake
        DEPENDS ${checked_files} ${PROJECT_SOURCE_DIR}/cmake/CheckLayerIncludes.cmake
        COMMENT "Checking the includes of ${label}"
        VERBATIM)
    add_custom_target(${stem}_include_check DEPENDS ${stamp})
    add_dependencies(${target} ${stem}_include_check)
endfunction()
