// The option scanner, with the rules for "-", "--" and "/" words.
#include "run/getopt.h"

#include <cctype>
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

// A word ending in a file extension: a dot after its first letter followed by
// letters and digits, at least one a letter ("scene.sdl", not "b0.5").
bool has_extension(const char* argument) {
    const char* dot = std::strrchr(argument, '.');
    if (dot == nullptr || dot - argument < 2 || dot[1] == '\0') return false;
    bool letter = false;
    for (const char* c = dot + 1; *c != '\0'; ++c) {
        if (!std::isalnum(static_cast<unsigned char>(*c))) return false;
        letter = letter || std::isalpha(static_cast<unsigned char>(*c));
    }
    return letter;
}

// "/" introduces option words as "-" does ("/a3" is -a 3). On this system it
// also begins every absolute path: an argument that names an existing file
// or directory is a path, never an option word, and so is one that could
// only be a path (a second "/", or a file extension), so that a scene path
// that is mistyped or not there yet is reported as such rather than read as
// option letters, with standard input taken for the scene.
bool is_option_word(const char* argument) {
    if (argument[0] == '-') return true;
    if (argument[0] != '/' || names_existing_path(argument)) return false;
    return std::strchr(argument + 1, '/') == nullptr && !has_extension(argument);
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
