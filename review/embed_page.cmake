# Writes the editor's page into a C++ source as one string, so that the
# command serves it from itself and never reads it from disk.
file(READ ${PAGE} text)
string(FIND "${text}" ")ZEMIVTC_PAGE\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${PAGE} holds the string's closing delimiter")
endif()
file(WRITE ${OUT} "// Made from editor_page.html by embed_page.cmake.\n#include \"review/editor_server.h\"\n"
                  "const char* const review::EditorPage = R\"ZEMIVTC_PAGE(${text})ZEMIVTC_PAGE\";\n")
