# Sanitizers apply to everything built in this tree, so the module, the tests
# and the virtual PLC are all instrumented together.
if(TAVRIN_SANITIZE_ADDRESS AND TAVRIN_SANITIZE_THREAD)
  message(FATAL_ERROR "AddressSanitizer and ThreadSanitizer cannot be combined; pick one")
endif()
if(TAVRIN_SANITIZE_ADDRESS)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(TAVRIN_SANITIZE_THREAD)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
