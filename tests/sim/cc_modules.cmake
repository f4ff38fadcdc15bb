# Module objects made by the system's C compiler, so that the module image
# reader is also tried on objects it did not write itself. They are built
# with plain flags: sanitizer instrumentation has no place in them.
set(LKPSIM_CC_MODULE_DIR ${CMAKE_CURRENT_BINARY_DIR}/cc_modules)
set(LKPSIM_CC_MODULE_OBJECTS)
foreach(fixture cc_modinfo_module cc_this_module)
  set(object ${LKPSIM_CC_MODULE_DIR}/${fixture}.o)
  set(source ${CMAKE_CURRENT_LIST_DIR}/fixtures/${fixture}.c)
  add_custom_command(OUTPUT ${object}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${LKPSIM_CC_MODULE_DIR}
    COMMAND ${CMAKE_C_COMPILER} -c -O2 -Wall -Wextra -Werror -o ${object} ${source}
    DEPENDS ${source}
    COMMENT "Compiling module object ${fixture}.o"
    VERBATIM)
  list(APPEND LKPSIM_CC_MODULE_OBJECTS ${object})
endforeach()
add_custom_target(lkpsim_cc_modules DEPENDS ${LKPSIM_CC_MODULE_OBJECTS})

# Gives a test the paths of the compiled objects.
function(lkpsim_use_cc_modules target)
  add_dependencies(${target} lkpsim_cc_modules)
  target_compile_definitions(${target} PRIVATE
    LKPSIM_CC_MODINFO_OBJECT="${LKPSIM_CC_MODULE_DIR}/cc_modinfo_module.o"
    LKPSIM_CC_THIS_MODULE_OBJECT="${LKPSIM_CC_MODULE_DIR}/cc_this_module.o")
endfunction()
