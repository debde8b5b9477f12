# Gives the generated SDL parser the classic error recovery: once the error
# token is shifted, input tokens that cannot follow it are discarded in the
# same state, one at a time, until one can. Bison's own parser instead pops
# further states after each discarded token, so one bad parameter could throw
# away the whole body it stands in; scenes rely on a bad parameter costing
# only itself. Run as: cmake -DINPUT=... -DOUTPUT=... -P classic_error_recovery.cmake
file(READ "${INPUT}" text)
set(discard "          yychar = SDL_EMPTY;\n        }\n    }\n")
string(FIND "${text}" "${discard}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "classic_error_recovery: the generated parser's discard step was not found; "
                      "check the parser against this version of bison")
endif()
string(REPLACE "${discard}"
  "          yychar = SDL_EMPTY;\n          goto yybackup; /* classic recovery: next token, same state */\n        }\n    }\n"
  text "${text}")
file(WRITE "${OUTPUT}" "${text}")
