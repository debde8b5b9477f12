// The SDL lexer: SDL text from the bound input becomes tokens for the parser.
#pragma once

#include <cstddef>

namespace sky {

class ParseHelper;
class SdlInput;

// Binds the scanner to `input` and sets the line number to 1. Called before
// each parse (the main scene, then each stage file).
void sdl_bind_input(SdlInput* input);

// The parser's read: the next token in parser state `state`. Where that state
// takes a run of list items (list_run_token), the items that follow in the
// plain form come as one run token (list_runs.h); never while the parser
// recovers from an error (`recovering` nonzero), whose count of tokens shifted
// the runs would change. Otherwise as sdl_lex.
int sdl_lex_in_state(int state, int recovering);

// The run token the parser shifts in `state`, or 0 (the parser's tables say).
int list_run_token(int state);

// For tests: with runs off every item is read token by token.
void set_list_runs(bool on);
// Runs of more than `bytes` bytes of text are read in two halves at once (0:
// never); by default those longer than kListRunSplit, where the halves' work
// outweighs handing one to another thread many times over.
inline constexpr std::size_t kListRunSplit = std::size_t{256} << 10;
void set_list_run_split(std::size_t bytes);

// The processors the run was given: with one, the parse starts no thread of
// its own and reads every run on the thread that parses.
void set_parse_processors(int count);
// The parse's helper thread (parse_helper.h), or null when the parse may not
// use one.
ParseHelper* parse_helper();

}  // namespace sky

// The next token (0 at the end of input); its value is left in sdl_lval.
int sdl_lex();
