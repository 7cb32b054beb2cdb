# Settings shared by every target of the project.
add_library(pelk_settings INTERFACE)
target_compile_features(pelk_settings INTERFACE cxx_std_17)
target_compile_definitions(pelk_settings INTERFACE QT_STRICT_ITERATORS QT_NO_FOREACH)
target_include_directories(pelk_settings INTERFACE ${PROJECT_SOURCE_DIR}/src)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_compile_options(pelk_settings INTERFACE -Wall -Wextra)
  if(PELK_WERROR)
    target_compile_options(pelk_settings INTERFACE -Werror)
  endif()
  if(PELK_SANITIZE)
    target_compile_options(pelk_settings INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                   -fno-sanitize-recover=undefined)
    target_link_options(pelk_settings INTERFACE -fsanitize=address,undefined)
  endif()
  if(PELK_FUZZ)
    # Coverage for libFuzzer in every library; only the fuzz targets link its main.
    target_compile_options(pelk_settings INTERFACE -fsanitize=fuzzer-no-link,address,undefined
                                                   -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(pelk_settings INTERFACE -fsanitize=address,undefined)
  endif()
  if(PELK_TSAN)
    target_compile_options(pelk_settings INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(pelk_settings INTERFACE -fsanitize=thread)
  endif()
endif()

# Adds one static library of the SOURCES listed. DEPENDS are what its headers
# need (its users get them too); PRIVATE_DEPENDS only its implementation.
function(pelk_add_library name)
  # Sources are listed, not globbed: a new file is a change a reviewer sees in the library's list.
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS;PRIVATE_DEPENDS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_link_libraries(${name} PUBLIC pelk_settings ${ARG_DEPENDS})
  if(ARG_PRIVATE_DEPENDS)
    target_link_libraries(${name} PRIVATE ${ARG_PRIVATE_DEPENDS})
  endif()
endfunction()
