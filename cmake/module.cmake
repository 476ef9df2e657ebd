# How the module and its library are compiled: C-style C++ with nothing from
# the C++ run time, so the same sources load on the receiver and on the PC.
set(QUARNEL_MODULE_COMPILE_OPTIONS
  -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
  -fno-threadsafe-statics -fno-stack-protector -fno-builtin -fPIC)

if(CMAKE_SYSTEM_PROCESSOR MATCHES "mips")
  list(APPEND QUARNEL_MODULE_COMPILE_OPTIONS -march=mips32 -mabi=32 -EL)
endif()

function(quarnel_module_sources target)
  target_compile_options(${target} PRIVATE ${QUARNEL_MODULE_COMPILE_OPTIONS})
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()
