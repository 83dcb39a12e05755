# Fuzz targets for the parsers behind the receiver and for the address rule;
# included from this folder's CMakeLists.txt after varnel_add_fuzzer is defined.
# The libraries under test are instrumented so the fuzzer sees coverage in them.
target_compile_options(varnel_protocol PRIVATE -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all)
varnel_add_fuzzer(protocol_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/protocol_fuzz.cpp LIBS varnel_protocol
                  DICT receiver.dict)
if(TARGET varnel_ui_rules)
  target_compile_options(varnel_ui_rules PRIVATE -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all)
  varnel_add_fuzzer(address_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/address_fuzz.cpp LIBS varnel_ui_rules
                    DICT address.dict)
endif()
