# The engine's folders, lowest first. A folder may include headers of its own and of the folders
# before it, never of a folder after it; the build fails on such an include.
set(ZENTROWE_LAYER_ORDER base song chart convert keysound audio workflow)

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

    file(GLOB_RECURSE layer_files CONFIGURE_DEPENDS
        ${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.cpp)
    set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${name}_layer_check.stamp)
    add_custom_command(OUTPUT ${stamp}
        COMMAND ${CMAKE_COMMAND} -DLAYER=${name} "-DORDER=${ZENTROWE_LAYER_ORDER}"
                -DFOLDER=${CMAKE_CURRENT_SOURCE_DIR}/${name} -DSTAMP=${stamp}
                -P ${PROJECT_SOURCE_DIR}/cmake/CheckLayerIncludes.cmake
        DEPENDS ${layer_files} ${PROJECT_SOURCE_DIR}/cmake/CheckLayerIncludes.cmake
        COMMENT "Checking the includes of src/core/${name}"
        VERBATIM)
    add_custom_target(zentrowe_${name}_layer_check DEPENDS ${stamp})
    add_dependencies(zentrowe_${name} zentrowe_${name}_layer_check)
endfunction()
