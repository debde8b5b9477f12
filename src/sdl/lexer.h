// The SDL lexer: SDL text from the bound input becomes tokens for the parser.
#pragma once

namespace sky {

class SdlInput;

// Binds the scanner to `input` and sets the line number to 1. Called before
// each parse (the main scene, then each stage file).
void sdl_bind_input(SdlInput* input);

}  // namespace sky

// The next token (0 at the end of input); its value is left in sdl_lval.
int sdl_lex();
