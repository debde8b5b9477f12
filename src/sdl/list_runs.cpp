#include "sdl/list_runs.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <span>

#include "sdl/keywords.h"
#include "sdl/number_text.h"
#include "sdl/parse_helper.h"
#include "sdl/sdl_parser.h"

namespace sky {

void ListRun::clear() {
    count = 0;
    stride = 0;
    index_lists = 0;
    floats.clear();
    sizes.clear();
    for (auto& list : indices) list.clear();
    shaders.clear();
    next = nullptr;
}

std::int32_t run_item_count(const ListRun& run) {
    std::int32_t count = 0;
    for (const ListRun* part = &run; part != nullptr; part = part->next) count += part->count;
    return count;
}

namespace {

// The scanner's character classes (lexer.ll).
enum : std::uint8_t { DIGIT = 1, NAME_START = 2, NAME_CHAR = 4, OPERATOR = 8 };

struct CharClasses {
    std::uint8_t of[256] = {};
    constexpr CharClasses() {
        for (int c = '0'; c <= '9'; ++c) of[c] = DIGIT | NAME_CHAR;
        for (int c = 'A'; c <= 'Z'; ++c) of[c] = NAME_START | NAME_CHAR;
        for (int c = 'a'; c <= 'z'; ++c) of[c] = NAME_START | NAME_CHAR;
        of['_'] = of['#'] = NAME_START | NAME_CHAR;
        of['.'] = of[':'] = NAME_CHAR;
        for (char c : {'-', '+', '*', '/', '!', '&', '|', '=', '<', '>'})
            of[static_cast<unsigned char>(c)] = OPERATOR;
    }
};
constexpr CharClasses kClasses;

constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

inline bool is(char c, std::uint8_t what) {
    return (kClasses.of[static_cast<unsigned char>(c)] & what) != 0;
}

// The spellings the keyword table gives one token (`color` and `colour`).
struct Spellings {
    struct Name {
        const char* text;
        std::size_t length;
    };
    Name names[4] = {};
    int count = 0;

    explicit Spellings(int token) {
        for (const KeywordRow& row : keyword_table())
            if (row.token == token && count < 4) names[count++] = {row.name, std::strlen(row.name)};
    }
    // Every item of a big list passes here; the names are a few bytes, for
    // which the library's memcmp costs more than the comparing.
    bool match(const char* text, std::size_t length) const {
        for (int i = 0; i < count; ++i) {
            if (names[i].length != length) continue;
            std::size_t k = 0;
            while (k < length && names[i].text[k] == text[k]) ++k;
            if (k == length) return true;
        }
        return false;
    }
};

struct Keywords {
    Spellings cv{K_cv}, st{K_st}, norm{K_norm}, color{K_color}, polygon{K_polygon};
};
// A position in the text and the newlines passed to reach it.
struct Cursor {
    const char* p;
    std::int32_t lines;
    const Keywords* keywords;

    // Blanks, carriage returns and newlines, as the scanner skips them.
    void skip() {
        for (;;) {
            switch (*p) {
                case ' ':
                case '\t':
                case '\f':
                case '\r':
                    ++p;
                    break;
                case '\n':
                    ++p;
                    ++lines;
                    break;
                default:
                    return;
            }
        }
    }

    bool punctuation(char c) {
        skip();
        if (*p != c) return false;
        ++p;
        return true;
    }

    bool keyword(const Spellings& spellings) {
        skip();
        if (!is(*p, NAME_START)) return false;
        const char* end = p + 1;
        while (is(*end, NAME_CHAR)) ++end;
        if (!spellings.match(p, static_cast<std::size_t>(end - p))) return false;
        p = end;
        return true;
    }

    // A number with an optional sign, valued as the grammar values one: the
    // number's token, negated after a `-`. Most of a big scene's bytes pass
    // here; inline, a number saves the call's saving and restoring of a
    // dozen registers, about 7% of the parse's instructions.
    [[gnu::always_inline]] bool number(float& out) {
        skip();
        bool negative = false;
        if (*p == '-' || *p == '+') {
            // `--`, `-/`, `+=`: another operator, which the grammar rejects.
            if (is(p[1], OPERATOR)) return false;
            negative = *p == '-';
            ++p;
            skip();
        }
        // The digits are gathered while the number is found: most numbers
        // of a big scene are short decimals, whose value follows from them.
        const char* start = p;
        const char* end = p;
        std::uint64_t digits = 0;
        while (is(*end, DIGIT)) digits = digits * 10 + static_cast<unsigned>(*end++ - '0');
        const auto whole_digits = end - start;
        std::ptrdiff_t fraction_digits = 0;
        bool real = false;
        if (*end == '.') {
            if (end == start && !is(end[1], DIGIT)) return false;
            const char* fraction = ++end;
            while (is(*end, DIGIT)) digits = digits * 10 + static_cast<unsigned>(*end++ - '0');
            fraction_digits = end - fraction;
            real = true;
        } else if (end == start) {
            return false;
        }
        bool exponent = false;
        if (*end == 'e' || *end == 'E') {
            const char* after = end + 1;
            if (*after == '-' || *after == '+') ++after;
            // A dangling exponent is a name after the number.
            if (!is(*after, DIGIT)) return false;
            while (is(*after, DIGIT)) ++after;
            end = after;
            real = exponent = true;
        }
        const auto length = static_cast<std::size_t>(end - start);
        float value;
        if (!real) {
            value = static_cast<float>(whole_digits <= 18 ? static_cast<std::int32_t>(digits)
                                                          : integer_text_value(start, length));
        } else if (!exponent && whole_digits + fraction_digits <= 19 &&
                   digits <= (std::uint64_t{1} << 53) && fraction_digits <= 22) {
            // Both the digits and the power of ten are exact doubles, so the
            // quotient is the correctly rounded double that real_text_value
            // gives too; it is far inside the float range.
            value = static_cast<float>(static_cast<double>(digits) / kPowersOfTen[fraction_digits]);
        } else {
            value = real_text_value(start, length);
        }
        out = negative ? -value : value;
        p = end;
        return true;
    }

    // An INTEGER token: digits alone.
    bool integer(std::int32_t& out) {
        skip();
        const char* end = p;
        while (is(*end, DIGIT)) ++end;
        if (end == p || *end == '.' || *end == 'e' || *end == 'E') return false;
        out = integer_text_value(p, static_cast<std::size_t>(end - p));
        p = end;
        return true;
    }

    // `(` n numbers separated by commas `)`.
    bool numbers(int n, float* out) {
        if (!punctuation('(')) return false;
        for (int i = 0; i < n; ++i)
            if ((i > 0 && !punctuation(',')) || !number(out[i])) return false;
        return punctuation(')');
    }

    // The next thing is a comma or a closing parenthesis (not read).
    bool at_item_end() {
        Cursor ahead = *this;
        ahead.skip();
        return *ahead.p == ',' || *ahead.p == ')';
    }
};

bool read_cv(Cursor& c, float* out) {
    return c.keyword(c.keywords->cv) && c.punctuation('(') && c.numbers(3, out) &&
           c.punctuation(',') && c.number(out[3]) && c.punctuation(')');
}

// One item of a list of numbers, keyword items or vertices: its floats and
// their count.
bool read_item(PackShape shape, Cursor& c, float* out, int& stride) {
    switch (shape) {
        case PACK_SCALAR:
            stride = 1;
            return c.number(out[0]);
        case PACK_CV:
            stride = 4;
            return read_cv(c, out);
        case PACK_ST:
            stride = 2;
            return c.keyword(c.keywords->st) && c.numbers(2, out);
        case PACK_NORMAL:
            stride = 3;
            return c.keyword(c.keywords->norm) && c.numbers(3, out);
        case PACK_COLOUR:
            stride = 3;
            return c.keyword(c.keywords->color) && c.numbers(3, out);
        case PACK_VERTEX:
            // (cv), (cv, st) or (cv, st, norm)
            stride = 4;
            if (!c.punctuation('(') || !read_cv(c, out)) return false;
            if (c.punctuation(')')) return true;
            if (!c.punctuation(',') || !c.keyword(c.keywords->st) || !c.numbers(2, out + 4))
                return false;
            stride = 6;
            if (c.punctuation(')')) return true;
            stride = 9;
            return c.punctuation(',') && c.keyword(c.keywords->norm) && c.numbers(3, out + 6) &&
                   c.punctuation(')');
        case PACK_POLYGON:
            break;
    }
    return false;
}

// Numbers up to a closing parenthesis (read), appended to `out` as indices.
bool read_indices(Cursor& c, std::vector<std::int32_t>& out) {
    for (;;) {
        float value;
        if (!c.number(value)) return false;
        out.push_back(list_index(value));
        if (c.punctuation(')')) return true;
        if (!c.punctuation(',')) return false;
    }
}

// polygon(i, ...), or polygon((i, ...), ...) with up to three index lists of
// one length and an optional shader slot. Appends to the run; false (with
// nothing appended) when the item is not one of these.
bool read_polygon(Cursor& c, ListRun& run) {
    if (!c.keyword(c.keywords->polygon) || !c.punctuation('(')) return false;
    std::size_t before[3];
    for (int k = 0; k < 3; ++k) before[k] = run.indices[k].size();
    auto size = [&](int k) { return run.indices[k].size() - before[k]; };
    auto fail = [&] {
        for (int k = 0; k < 3; ++k) run.indices[k].resize(before[k]);
        return false;
    };
    int lists = 0;
    std::int32_t shader = -1;
    c.skip();
    if (*c.p != '(') {
        if (!read_indices(c, run.indices[0])) return fail();
        lists = 1;
    } else {
        for (;;) {
            if (!c.punctuation('(') || !read_indices(c, run.indices[lists])) return fail();
            ++lists;
            // A lone index in parentheses may be an expression: see list_runs.h.
            if (size(0) == 1 || size(lists - 1) != size(0)) return fail();
            if (c.punctuation(')')) {
                if (lists == 1) return fail();
                break;
            }
            if (!c.punctuation(',')) return fail();
            c.skip();
            if (*c.p == '(' && lists < 3) continue;
            if (!c.integer(shader) || !c.punctuation(')')) return fail();
            break;
        }
    }
    if (run.count > 0 && lists != run.index_lists) return fail();
    run.index_lists = lists;
    run.sizes.push_back(static_cast<std::int32_t>(size(0)));
    run.shaders.push_back(shader);
    return true;
}

// Where a scan of items stopped.
struct ItemsRead {
    Cursor end;                   // after the last item read
    bool at_stop = false;         // it stopped at the stop, right after a comma
    const char* stop = nullptr;   // where (the stop itself when exact)
    std::int32_t stop_lines = 0;  // the newlines before it
};

// Reads whole items of `shape` into `run` from `text` as long as they come,
// and stops early after the comma after an item when that comma ends right
// at `stop` (`exact`) or at or past it. `useless_from`, when given, is looked
// at now and then: once it is at most `piece`, what is read will not be used.
ItemsRead read_items(PackShape shape, const char* text, const char* stop, ListRun& run,
                     bool exact = true, const std::atomic<int>* useless_from = nullptr,
                     int piece = 0) {
    static const Keywords keywords;
    Cursor c{text, 0, &keywords};
    ItemsRead read{c};
    for (;;) {
        if (useless_from != nullptr && (run.count & 255) == 0 &&
            useless_from->load(std::memory_order_relaxed) <= piece)
            break;
        Cursor item = c;
        if (shape == PACK_POLYGON) {
            if (!read_polygon(item, run)) break;
            if (!item.at_item_end()) {
                for (int k = 0; k < run.index_lists; ++k)
                    run.indices[k].resize(run.indices[k].size() -
                                          static_cast<std::size_t>(run.sizes.back()));
                run.sizes.pop_back();
                run.shaders.pop_back();
                break;
            }
        } else {
            float values[9];
            int stride = 0;
            if (!read_item(shape, item, values, stride) ||
                (run.count > 0 && stride != run.stride) || !item.at_item_end())
                break;
            run.stride = stride;
            run.floats.insert(run.floats.end(), values, values + stride);
        }
        ++run.count;
        read.end = item;
        item.skip();
        if (*item.p != ',') break;
        c = item;
        ++c.p;
        if (stop != nullptr && (exact ? c.p == stop : c.p >= stop)) {
            read.at_stop = true;
            read.stop = c.p;
            read.stop_lines = c.lines;
            break;
        }
    }
    return read;
}

// Whether the items read from a split point go on the items read before
// it: the ones a single scan would have accepted there.
bool continues(const ListRun& head, const ListRun& tail) {
    if (tail.count == 0) return false;
    return head.shape == PACK_POLYGON ? tail.index_lists == head.index_lists
                                      : tail.stride == head.stride;
}

const char* finish_run(PackShape shape, const char* text, const Cursor& end, ListRun& run,
                       std::int32_t& newlines) {
    if (shape == PACK_SCALAR && run_item_count(run) < 2) {
        run.clear();
        return text;
    }
    newlines += end.lines;
    return end.p;
}

}  // namespace

const char* scan_list_run(PackShape shape, const char* text, ListRun& run, std::int32_t& newlines) {
    run.clear();
    run.shape = shape;
    ItemsRead read = read_items(shape, text, nullptr, run);
    return finish_run(shape, text, read.end, run, newlines);
}

namespace {

// Just after the first comma from `from` on that is followed by a whole item
// of `shape`, or null.
const char* split_after(PackShape shape, const char* from, const char* text_end) {
    static const Keywords keywords;
    ListRun scratch;
    scratch.shape = shape;
    // A few hundred candidates at most: past them the text is not a list of
    // plain items, and a split would not pay.
    int tries = 256;
    for (const char* p = from; p < text_end && tries > 0; ++p) {
        p = static_cast<const char*>(std::memchr(p, ',', static_cast<std::size_t>(text_end - p)));
        if (p == nullptr) break;
        --tries;
        Cursor item{p + 1, 0, &keywords};
        scratch.clear();
        bool whole;
        if (shape == PACK_POLYGON) {
            whole = read_polygon(item, scratch);
        } else {
            float values[9];
            int stride = 0;
            whole = read_item(shape, item, values, stride);
        }
        if (whole && item.at_item_end()) return p + 1;
    }
    return nullptr;
}

}  // namespace

const char* split_point(PackShape shape, const char* text, const char* text_end) {
    return split_after(shape, text + (text_end - text) / 2, text_end);
}

namespace {

// The pieces of a run's text, taken in turn by the threads that read.
struct PieceJob {
    PieceJob(PackShape of, ListRun* into) : shape(of), runs(into) {}

    PackShape shape;
    int count = 0;  // pieces: piece i reads from starts[i] and stops at starts[i + 1]
    const char* starts[kRunPieces + 1] = {};
    ListRun* runs;
    ItemsRead reads[kRunPieces];
    std::atomic<int> next{0};
    // A piece that did not end exactly where the next starts ends the run
    // (or read on past it as one scan does): the pieces after it are not used.
    std::atomic<int> useless_from{kRunPieces};
    HelperFirst first;
};

void read_pieces(void* context) {
    auto& job = *static_cast<PieceJob*>(context);
    for (;;) {
        const int i = job.next.fetch_add(1, std::memory_order_relaxed);
        if (i >= job.count) return;
        ListRun& piece = job.runs[i];
        piece.clear();
        piece.shape = job.shape;
        if (job.useless_from.load(std::memory_order_relaxed) <= i) continue;
        job.reads[i] = read_items(job.shape, job.starts[i], job.starts[i + 1], piece, true,
                                  &job.useless_from, i);
        if (!job.reads[i].at_stop) {
            int useless = job.useless_from.load(std::memory_order_relaxed);
            while (i + 1 < useless && !job.useless_from.compare_exchange_weak(
                                          useless, i + 1, std::memory_order_relaxed)) {
            }
        }
    }
}

void read_pieces_after_first(void* context) {
    auto& job = *static_cast<PieceJob*>(context);
    job.first.work(job.first.context);
    read_pieces(context);
}

// Reads the rest of a run in the job's pieces, the first from just after a
// comma that follows the run's `run.count` items (`lines` newlines into the
// run, `last` after its last item), or from the run's start when it has
// none; the helper takes pieces too. Chains the pieces that go on the run to
// it and returns the cursor after the run's last item, lines counted from
// the run's start.
Cursor read_rest(PieceJob& job, std::int32_t lines, Cursor last, ListRun& run,
                 ParseHelper* helper) {
    const bool concurrent =
        job.count > 1 && helper != nullptr &&
        helper->start(job.first.work != nullptr ? read_pieces_after_first : read_pieces, &job);
    read_pieces(&job);
    // A helper that has not begun is taken back: every piece is read by now.
    if (concurrent) helper->finish();
    ListRun* tail = &run;
    const ListRun* form = run.count > 0 ? &run : nullptr;
    Cursor end = last;
    for (int i = 0; i < job.count; ++i) {
        ListRun& piece = job.runs[i];
        if (form != nullptr ? !continues(*form, piece) : piece.count == 0) break;
        if (form == nullptr) form = &piece;
        tail->next = &piece;
        tail = &piece;
        end = job.reads[i].end;
        end.lines += lines;
        if (!job.reads[i].at_stop) break;
        lines += job.reads[i].stop_lines;
    }
    return end;
}

}  // namespace

const char* scan_split_list_run(PackShape shape, const char* text, const char* split, ListRun& run,
                                RunPieces& pieces, std::int32_t& newlines, ParseHelper* helper) {
    run.clear();
    run.shape = shape;
    static const Keywords keywords;
    PieceJob job(shape, pieces.runs);
    job.starts[job.count++] = text;
    if (split != nullptr && split > text) job.starts[job.count++] = split;
    const Cursor end = read_rest(job, 0, Cursor{text, 0, &keywords}, run, helper);
    return finish_run(shape, text, end, run, newlines);
}

const char* scan_long_list_run(PackShape shape, const char* text, const char* text_end,
                               std::size_t sure, std::size_t piece, ListRun& run, RunPieces& pieces,
                               std::int32_t& newlines, ParseHelper* helper,
                               HelperFirst helper_first) {
    run.clear();
    run.shape = shape;
    ItemsRead first = read_items(shape, text, text + sure, run, false);
    if (!first.at_stop) return finish_run(shape, text, first.end, run, newlines);
    // The pieces' starts are guessed at even steps through the rest.
    const auto rest = static_cast<std::size_t>(text_end - first.stop);
    const int wanted = static_cast<int>(
        std::clamp<std::size_t>(rest / std::max<std::size_t>(piece, 1), 2, kRunPieces));
    PieceJob job(shape, pieces.runs);
    job.first = helper_first;
    job.starts[job.count++] = first.stop;
    for (int k = 1; k < wanted; ++k) {
        const char* from = std::max(
            first.stop + rest * static_cast<std::size_t>(k) / static_cast<std::size_t>(wanted),
            job.starts[job.count - 1]);
        const char* start = split_after(shape, from, text_end);
        if (start == nullptr) break;
        job.starts[job.count++] = start;
    }
    const Cursor end = read_rest(job, first.stop_lines, first.end, run, helper);
    return finish_run(shape, text, end, run, newlines);
}

}  // namespace sky
