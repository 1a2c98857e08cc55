# Warnings and sanitizers for every target of the project.
if(MSVC)
  add_compile_options(/W4 /permissive- /DNOMINMAX /D_CRT_SECURE_NO_WARNINGS)
  if(QUILLON_WERROR)
    add_compile_options(/WX)
  endif()
else()
  add_compile_options(-Wall -Wextra)
  if(QUILLON_WERROR)
    add_compile_options(-Werror)
  endif()
endif()
if(QUILLON_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
if(MINGW)
  # One self-contained executable: no MinGW runtime DLLs to ship beside it.
  add_link_options(-static)
endif()

# Helper: add a GoogleTest executable that links the given targets.
function(quillon_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
