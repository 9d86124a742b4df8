// Reading the test transcripts: one input or expectation a line, words
// separated by blanks, '...' quoting (so '' is the empty word), \n a line end
// and c*N the character c N times.
#ifndef TESTS_COMMON_TRANSCRIPT_H
#define TESTS_COMMON_TRANSCRIPT_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace transcript {

// "c*N" is c N times; any other text stays.
inline std::string expand(const std::string &w)
{
    if (w.size() > 2 && w[1] == '*' && w.find_first_not_of("0123456789", 2) == std::string::npos)
        return std::string(std::stoul(w.substr(2)), w[0]);
    return w;
}

// A raw text with \n, \r and \t standing for line ends, returns and tabs.
inline std::string unescape(const std::string &raw)
{
    std::string out;
    for (size_t i = 0; i < raw.size(); ++i) {
        const size_t esc = raw[i] == '\\' && i + 1 < raw.size() ? std::string("ntr").find(raw[i + 1]) : std::string::npos;
        out += esc != std::string::npos ? (++i, "\n\t\r"[esc]) : raw[i];
    }
    return out;
}

inline std::vector<std::string> words(const std::string &line)
{
    std::vector<std::string> out;
    std::string w;
    bool in_word = false, quoted = false;
    auto end_word = [&] {
        out.push_back(expand(w));
        w.clear();
    };
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\'') {
            quoted = !quoted;
            in_word = true;
        } else if (line[i] == ' ' && !quoted) {
            if (in_word)
                end_word();
            in_word = false;
        } else {
            w += line[i] == '\\' && i + 1 < line.size() && line[i + 1] == 'n' ? (++i, '\n') : line[i];
            in_word = true;
        }
    }
    if (in_word)
        end_word();
    return out;
}

// Hands each line of tests/<path> but blanks and comments to `step`, with
// the given names replaced and the line's place in any failure report.
inline void play(const std::string &path, const std::vector<std::pair<std::string, std::string>> &names,
                 const std::function<void(const std::string &)> &step)
{
    std::ifstream in(std::string(getenv("RRM_SOURCE_DIR")) + "/tests/" + path);
    ASSERT_TRUE(in.good()) << path;
    int n = 0;
    for (std::string line; std::getline(in, line);) {
        ++n;
        for (const auto &[from, to] : names)
            for (size_t at = line.find(from); at != std::string::npos; at = line.find(from, at + to.size()))
                line.replace(at, from.size(), to);
        if (line.empty() || line[0] == '#')
            continue;
        SCOPED_TRACE(path + ":" + std::to_string(n) + ": " + line);
        step(line);
        if (::testing::Test::HasFatalFailure())
            return;
    }
}

// What an input left behind, by kind (shell commands, database commands,
// log lines...), taken line by line by the expectations after it; a kind
// listed at all must be listed whole by the next input.
struct Left {
    std::map<std::string, std::deque<std::string>> lines;
    std::set<std::string> listed;

    // "-" nothing more, "..." anything more, "~text" the rest holds text,
    // "!text" it lacks it; any other text is the next line.
    void expect(const std::string &kind, const std::string &want)
    {
        listed.insert(kind);
        std::deque<std::string> &l = lines[kind];
        if (want == "-" || want == "...") {
            EXPECT_TRUE(want == "..." || l.empty()) << l.front();
            l.clear();
        } else if (!want.empty() && (want[0] == '~' || want[0] == '!')) {
            std::string all;
            for (const std::string &x : l)
                all += x + "\n";
            EXPECT_EQ(want[0] == '~', all.find(want.substr(1)) != std::string::npos) << all;
            l.clear();
        } else {
            ASSERT_FALSE(l.empty()) << "no more " << kind;
            EXPECT_EQ(want, l.front());
            l.pop_front();
        }
    }

    void settle()
    {
        for (const std::string &kind : listed)
            EXPECT_TRUE(lines[kind].empty()) << "unexpected " << kind << ": " << lines[kind].front();
        lines.clear();
        listed.clear();
    }
};

}  // namespace transcript

#endif
