# The optional parts around the core library (which needs only a compiler,
# CMake and Ninja): the saved-calibration library, the tool, the tests, the
# benchmarks and the examples. Each part's option is AUTO, ON or OFF. AUTO
# (the default) builds the part when calmgr is the top-level project and
# everything the part needs is found, and is decided afresh at every
# configure, so a part follows packages installed later. Each part that is
# off says why in one status line; a part set ON whose packages are missing
# stops the configuration, naming them.

# calmgr_optional_part(<option> <what>
#                      [PACKAGES <package>[:<version>] ...]
#                      [NEEDS <variable>:<reason when false> ...])
# PACKAGES are looked for with find_package, quietly, and only when calmgr
# is the top-level project or the part was asked for. NEEDS are variables
# that must be true, such as the option of a part this one builds on.
# Leaves <option> set to ON or OFF for the rest of calmgr's configuration.
function(calmgr_optional_part option what)
    cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "PACKAGES;NEEDS")
    set(${option} AUTO CACHE STRING "Build ${what}: AUTO (when its packages are found), ON or OFF")
    set_property(CACHE ${option} PROPERTY STRINGS AUTO ON OFF)
    set(request "${${option}}")  # a value the embedding project set comes first
    set(automatic FALSE)
    if(request STREQUAL "AUTO")
        set(automatic TRUE)
    elseif(request)
        set(request ON)
    else()
        set(request OFF)
    endif()

    set(missing "")
    foreach(need IN LISTS arg_NEEDS)
        string(REPLACE ":" ";" need "${need}")
        list(GET need 0 variable)
        list(GET need 1 reason)
        if(NOT ${variable})
            list(APPEND missing "${reason}")
        endif()
    endforeach()
    if(request OR (automatic AND PROJECT_IS_TOP_LEVEL))
        foreach(package IN LISTS arg_PACKAGES)
            string(REPLACE ":" ";" package "${package}")
            list(GET package 0 name)
            find_package(${package} QUIET)
            if(NOT ${name}_FOUND)
                list(APPEND missing "${name} not found")
            endif()
        endforeach()
    endif()
    list(JOIN missing "; " reasons)

    if(automatic)
        if(NOT PROJECT_IS_TOP_LEVEL)
            set(reasons "calmgr is not the top-level project (-D${option}=ON builds it)")
        endif()
        set(build OFF)
        if(PROJECT_IS_TOP_LEVEL AND NOT missing)
            set(build ON)
        endif()
    elseif(request AND missing)
        message(FATAL_ERROR "${option} is ON but ${what} cannot be built: ${reasons} "
                            "(scripts/deps installs every package; or configure with -D${option}=AUTO or OFF)")
    else()
        set(build ${request})
        set(reasons "${option} is OFF")
    endif()
    if(NOT build)
        message(STATUS "calmgr: not building ${what}: ${reasons}")
    endif()
    set(${option} ${build} PARENT_SCOPE)
endfunction()
