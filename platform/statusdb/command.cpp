#include "command.h"

namespace statusdb {

namespace {

// A word quoted for an error text, cut so that the text stays short.
std::string quoted(std::string_view word)
{
    constexpr std::size_t kShown = 40;
    std::string out = "'";
    for (char c : word.substr(0, kShown)) {
        unsigned char u = static_cast<unsigned char>(c);
        out += (u < 0x20 || u == 0x7f) ? '?' : c;
    }
    if (word.size() > kShown)
        out += "...";
    out += "'";
    return out;
}

}  // namespace

bool parse_command(const std::vector<std::string_view> &words, Command &out, std::string &error)
{
    out = Command{};
    if (words.empty() || words[0] != "dbctl") {
        error = "a command starts with 'dbctl'";
        return false;
    }
    if (words.size() > kMaxWords) {
        error = "too many words";
        return false;
    }
    if (words.size() == 1) {
        error = "nothing to do";
        return false;
    }

    bool have_table = false;
    bool have_key = false;
    std::size_t i = 1;

    // The text after word i, checked for presence and length.
    auto text_after = [&](std::string_view what, bool may_be_empty, std::string_view &text) {
        if (i + 1 >= words.size()) {
            error = "missing " + std::string(what) + " after " + quoted(words[i]);
            return false;
        }
        text = words[i + 1];
        if (text.size() > kMaxText) {
            error = std::string(what) + " too long (" + std::to_string(text.size()) + " bytes, at most " +
                    std::to_string(kMaxText) + ")";
            return false;
        }
        if (!may_be_empty && text.empty()) {
            error = "empty " + std::string(what) + " after " + quoted(words[i]);
            return false;
        }
        return true;
    };
    auto need_table = [&]() {
        if (!have_table)
            error = quoted(words[i]) + " needs a table ('-t')";
        return have_table;
    };
    auto need_key = [&]() {
        if (!have_key)
            error = quoted(words[i]) + " needs a key ('-k' or '-i')";
        return have_key;
    };
    auto one_read = [&]() {
        if (out.reads)
            error = "only one '-g' or '-l' in a command";
        return !out.reads;
    };

    while (i < words.size()) {
        std::string_view w = words[i];
        std::string_view text;
        if (w == "-a" || w == "-t") {
            if (!text_after("table name", false, text))
                return false;
            out.steps.push_back({w == "-a" ? StepKind::CreateTable : StepKind::UseTable, text, {}});
            have_table = true;
            have_key = false;
            i += 2;
        } else if (w == "-i" || w == "-k") {
            if (!need_table() || !text_after("key", false, text))
                return false;
            out.steps.push_back({w == "-i" ? StepKind::CreateKey : StepKind::UseKey, text, {}});
            have_key = true;
            i += 2;
        } else if (w == "-r") {
            if (!need_table() || !text_after("key", false, text))
                return false;
            out.steps.push_back({StepKind::Remove, text, {}});
            have_key = false;
            i += 2;
        } else if (w == "-g") {
            if (!need_table() || !need_key() || !one_read() || !text_after("field name", false, text))
                return false;
            out.steps.push_back({StepKind::Get, text, {}});
            out.reads = true;
            i += 2;
        } else if (w == "-f") {
            if (!need_table() || !text_after("field name", false, text))
                return false;
            std::string_view field = text;
            i += 2;
            if (i >= words.size()) {
                error = "'-f' " + quoted(field) + " needs '-s' or '-l' after it";
                return false;
            }
            if (words[i] == "-s") {
                if (!need_key() || !text_after("value", true, text))
                    return false;
                out.steps.push_back({StepKind::Set, field, text});
                i += 2;
            } else if (words[i] == "-l") {
                if (!one_read())
                    return false;
                out.steps.push_back({StepKind::List, field, {}});
                out.reads = true;
                out.lists = true;
                i += 1;
            } else {
                error = "'-f' " + quoted(field) + " needs '-s' or '-l' after it, not " + quoted(words[i]);
                return false;
            }
        } else if (w == "-s" || w == "-l") {
            error = quoted(w) + " needs '-f' before it";
            return false;
        } else {
            error = "unknown word " + quoted(w);
            return false;
        }
    }
    return true;
}

}  // namespace statusdb
