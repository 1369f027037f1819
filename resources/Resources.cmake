# What each Windows program says about itself in its resources: the version
# resource (from the project's one version, in the top CMakeLists.txt, and
# the program's row of the program list in profiles/CMakeLists.txt) and the
# application manifest. cmake/ProgramTable.cmake writes the same values into
# programs.json for the checks.
include_guard(GLOBAL)

# The project's version as Windows keeps it: four numbers of 16 bits each,
# missing ones 0. Sets <prefix>_DOTTED (1.2.3.0) and <prefix>_COMMAS (1,2,3,0).
function(halvern_file_version prefix)
    string(REPLACE "." ";" parts "${PROJECT_VERSION}")
    list(LENGTH parts count)
    if(count GREATER 4)
        message(FATAL_ERROR "project version ${PROJECT_VERSION}: Windows keeps at most four numbers")
    endif()
    foreach(part IN LISTS parts)
        if(part GREATER 65535)
            message(FATAL_ERROR "project version ${PROJECT_VERSION}: ${part} does not fit a version resource")
        endif()
    endforeach()
    while(count LESS 4)
        list(APPEND parts 0)
        math(EXPR count "${count} + 1")
    endwhile()
    list(JOIN parts "." dotted)
    list(JOIN parts "," commas)
    set(${prefix}_DOTTED "${dotted}" PARENT_SCOPE)
    set(${prefix}_COMMAS "${commas}" PARENT_SCOPE)
endfunction()

# The strings of a program's version resource, from its program list row.
# Sets <prefix>_<field> for CompanyName, LegalCopyright, FileDescription,
# ProductName, InternalName and OriginalFilename. The product is the display
# name without its trailing " Service" (Halvern Alder). The copyright's year
# is the year of the sources the version is built from: SOURCE_DATE_EPOCH,
# which tools/release.sh sets to the last commit's time, so that a release
# names the year of its commit and a rebuild of it gives the same bytes; a
# build without it names the year it was configured in.
function(halvern_program_strings prefix name)
    set(display "")
    foreach(row IN LISTS PROGRAM_ROWS)
        string(REPLACE "|" ";" fields "${row}")
        list(GET fields 0 row_name)
        if(row_name STREQUAL name)
            list(GET fields 1 display)
        endif()
    endforeach()
    if(display STREQUAL "")
        message(FATAL_ERROR "${name} is not in the program list (profiles/CMakeLists.txt)")
    endif()
    string(REGEX REPLACE " Service$" "" product "${display}")
    string(TIMESTAMP year "%Y" UTC)
    set(${prefix}_CompanyName "Halvern" PARENT_SCOPE)
    set(${prefix}_LegalCopyright "Copyright (C) ${year} Halvern" PARENT_SCOPE)
    set(${prefix}_FileDescription "${display}" PARENT_SCOPE)
    set(${prefix}_ProductName "${product}" PARENT_SCOPE)
    set(${prefix}_InternalName "${name}" PARENT_SCOPE)
    set(${prefix}_OriginalFilename "${name}.exe" PARENT_SCOPE)
endfunction()

# The message table Event Viewer renders the programs' events from, compiled
# with windmc once per build folder: Messages.rc and MSG00409.bin, beside the
# programs' .rc files, which include it.
function(add_message_table)
    if(TARGET message_table)
        return()
    endif()
    set(outputs "${CMAKE_CURRENT_BINARY_DIR}/Messages.rc" "${CMAKE_CURRENT_BINARY_DIR}/MSG00409.bin")
    add_custom_command(OUTPUT ${outputs}
        COMMAND "${HALVERN_MESSAGE_COMPILER}" -h "${CMAKE_CURRENT_BINARY_DIR}" -r "${CMAKE_CURRENT_BINARY_DIR}"
                "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/Messages.mc"
        DEPENDS "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/Messages.mc"
        COMMENT "Message table")
    add_custom_target(message_table DEPENDS ${outputs})
endfunction()

# Gives a program target its resources: <name>.rc in the current build
# folder, configured from Program.rc.in. Its include path holds this folder
# (the manifest) and that build folder, where a resource compiled for the
# program (a windmc message table) goes beside it.
function(add_program_resources target)
    add_message_table()
    add_dependencies(${target} message_table)
    halvern_file_version(version)
    halvern_program_strings(program ${target})
    foreach(field CompanyName LegalCopyright FileDescription ProductName InternalName OriginalFilename)
        set(text "${program_${field}}")
        if(NOT text MATCHES "^[ -~]*$")
            message(FATAL_ERROR "${target}: ${field} \"${text}\" is not printable ASCII")
        endif()
        # A resource script string: backslash escapes, "" is a quote.
        string(REPLACE "\\" "\\\\" text "${text}")
        string(REPLACE "\"" "\"\"" text "${text}")
        set(RC_${field} "${text}")
    endforeach()
    set(RC_VERSION_TEXT "${version_DOTTED}")
    set(RC_VERSION_NUMBERS "${version_COMMAS}")
    set(resources_dir "${CMAKE_CURRENT_FUNCTION_LIST_DIR}")
    set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}.rc")
    configure_file("${resources_dir}/Program.rc.in" "${rc}" @ONLY)
    set_source_files_properties("${rc}" PROPERTIES
        INCLUDE_DIRECTORIES "${resources_dir};${CMAKE_CURRENT_BINARY_DIR}"
        OBJECT_DEPENDS "${resources_dir}/Program.manifest;${CMAKE_CURRENT_BINARY_DIR}/Messages.rc")
    target_sources(${target} PRIVATE "${rc}")
endfunction()
