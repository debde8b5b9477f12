// The option scanner, with the rules for "-", "--" and "/" words.
#include "run/getopt.h"

#include <cstring>

#include <sys/stat.h>

namespace sky {

const char* optarg = nullptr;
int optind = 1;
int opterr = 1;

namespace {

const char* word = nullptr;  // the rest of the option word being scanned
bool last_was_option_argument = false;

bool names_existing_path(const char* argument) {
    struct stat info {};
    return ::stat(argument, &info) == 0;
}

// "/" introduces option words as "-" does ("/a3" is -a 3). On this system it
// also begins every absolute path, so an argument that names an existing file
// or directory is a path, never an option word.
bool is_option_word(const char* argument) {
    if (argument[0] == '-') return true;
    return argument[0] == '/' && !names_existing_path(argument);
}

int end_of_options() {
    optarg = nullptr;
    word = nullptr;
    return -1;
}

}  // namespace

void getopt_reset() {
    optind = 1;
    optarg = nullptr;
    word = nullptr;
    last_was_option_argument = false;
}

bool getopt_last_was_option_argument() {
    return last_was_option_argument;
}

int getopt(int argc, char* const argv[], const char* optstring) {
    if (word == nullptr || *word == '\0') {
        if (optind >= argc) return end_of_options();
        const char* argument = argv[optind];
        if (argument == nullptr || !is_option_word(argument)) return end_of_options();
        ++optind;
        last_was_option_argument = false;
        if (std::strcmp(argument, "-") == 0 || std::strcmp(argument, "--") == 0)
            return end_of_options();
        word = argument + 1;
        if (*word == '\0') {
            // A lone "/" is a word without letters: nothing to return but an error.
            word = nullptr;
            optarg = nullptr;
            return '?';
        }
    }

    char letter = *word++;
    const char* entry = letter == ':' ? nullptr : std::strchr(optstring, letter);
    if (letter == ':') {
        optarg = nullptr;
        return opterr ? '?' : ':';
    }
    if (entry == nullptr) {
        optarg = nullptr;
        word = nullptr;
        return opterr ? '?' : letter;
    }
    if (entry[1] != ':') {
        optarg = nullptr;
        return letter;
    }
    if (*word != '\0') {
        optarg = word;
    } else if (optind < argc) {
        optarg = argv[optind++];
        last_was_option_argument = true;
    } else {
        optarg = nullptr;
        word = nullptr;
        return opterr ? '?' : letter;
    }
    word = nullptr;
    return letter;
}

}  // namespace sky
