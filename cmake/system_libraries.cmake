# The system libraries the core builds against, checked all at once.
#
# Included by CMakeLists.txt, and run on its own before a build
# (`cmake -P cmake/system_libraries.cmake`, as the Makefile does): either
# way a missing library stops with one message that names every missing
# one and the package that provides it on Debian/Ubuntu, Fedora and
# Homebrew.  Found through pkg-config, the same as the build itself.

# name | pkg-config module | Debian | Fedora | Homebrew
set(VORLANE_SYSTEM_LIBRARIES
  "PCRE2|libpcre2-8|libpcre2-dev|pcre2-devel|pcre2"
  "libcurl|libcurl|libcurl4-openssl-dev|libcurl-devel|curl"
  "nlohmann-json|nlohmann_json|nlohmann-json3-dev|json-devel|nlohmann-json")

function(vorlane_check_system_libraries)
  find_program(VORLANE_PKG_CONFIG NAMES pkg-config pkgconf)
  set(missing "")
  set(debian_missing "")
  if(NOT VORLANE_PKG_CONFIG)
    string(APPEND missing "\n  pkg-config                      Debian: pkg-config            Fedora: pkgconf-pkg-config  Homebrew: pkgconf")
    string(APPEND debian_missing " pkg-config")
  endif()
  foreach(entry IN LISTS VORLANE_SYSTEM_LIBRARIES)
    string(REPLACE "|" ";" f "${entry}")
    list(GET f 0 name)
    list(GET f 1 module)
    list(GET f 2 debian)
    list(GET f 3 fedora)
    list(GET f 4 brew)
    set(found FALSE)
    if(VORLANE_PKG_CONFIG)
      execute_process(COMMAND "${VORLANE_PKG_CONFIG}" --exists "${module}" RESULT_VARIABLE rc)
      if(rc EQUAL 0)
        set(found TRUE)
      endif()
    endif()
    if(NOT found)
      set(what "${name} (${module})")
      string(LENGTH "${what}" n)
      math(EXPR pad "32 - ${n}")
      string(REPEAT " " ${pad} spaces)
      string(LENGTH "${debian}" n)
      math(EXPR pad "22 - ${n}")
      string(REPEAT " " ${pad} spaces2)
      string(LENGTH "${fedora}" n)
      math(EXPR pad "20 - ${n}")
      string(REPEAT " " ${pad} spaces3)
      string(APPEND missing "\n  ${what}${spaces}Debian: ${debian}${spaces2}Fedora: ${fedora}${spaces3}Homebrew: ${brew}")
      string(APPEND debian_missing " ${debian}")
    endif()
  endforeach()
  if(missing)
    message(FATAL_ERROR
      "vorlane_core needs these system libraries, not found through pkg-config:${missing}\n"
      "  On Debian/Ubuntu:  sudo apt-get install${debian_missing}\n"
      "  With Homebrew, also put $(brew --prefix)/lib/pkgconfig on PKG_CONFIG_PATH.\n")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  vorlane_check_system_libraries()
  message(STATUS "system libraries: all found")
endif()
