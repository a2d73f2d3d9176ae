# The version lives in one place, the project() call; the programs' version resources and
# `vantrel-cli --version` take it from there.

# vantrel_add_version_resource(TARGET DESCRIPTION FILENAME): gives a Windows program a version
# resource (File Explorer shows it on the file's details tab).
function(vantrel_add_version_resource target description filename)
    if(NOT WIN32)
        return()
    endif()
    set(VANTREL_FILE_DESCRIPTION "${description}")
    set(VANTREL_ORIGINAL_FILENAME "${filename}")
    foreach(part MAJOR MINOR PATCH TWEAK)
        if("${PROJECT_VERSION_${part}}" STREQUAL "")
            set(VANTREL_VERSION_${part} 0)
        else()
            set(VANTREL_VERSION_${part} ${PROJECT_VERSION_${part}})
        endif()
    endforeach()
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
    configure_file(${PROJECT_SOURCE_DIR}/res/version.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
endfunction()
