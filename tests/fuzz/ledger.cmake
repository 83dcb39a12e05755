# The ledger's fuzz target; included from this folder's CMakeLists.txt after
# varnel_add_fuzzer is defined. The ledger library is instrumented too, so the fuzzer
# sees coverage inside the INI parser and the file code.
target_compile_options(varnel_ledger PRIVATE -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
varnel_add_fuzzer(ledger_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/ledger_fuzz.cpp LIBS varnel_ledger)
