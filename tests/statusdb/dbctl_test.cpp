// The dbctl tool, played from dbctl.txt: the words on its command line, the
// reply printed, a failure in the exit status, and views for a person.
#include <deque>
#include <sstream>
#include <string>

#include "../common/proc.h"
#include "../common/transcript.h"
#include "statusdb_fixture.h"

namespace {

TEST_F(StatusDb, DbctlTranscript)
{
    setenv("TZ", "UTC0", 1);
    std::deque<std::string> left;  // what the last command printed, not yet listed
    auto settle = [&] {
        EXPECT_TRUE(left.empty()) << "unexpected: " << left.front();
        left.clear();
    };
    transcript::play("statusdb/dbctl.txt", {{"$DB", path_}, {"$FF", "\xff"}}, [&](const std::string &line) {
        const std::string rest = line.substr(std::min(line.size(), line.find(' ') + 1));
        if (line[0] == '|') {
            ASSERT_FALSE(left.empty()) << "no more output";
            EXPECT_TRUE(rest == "..." || rest == left.front()) << "want: " << rest << "\n got: " << left.front();
            rest == "..." ? left.clear() : left.pop_front();
            return;
        }
        settle();
        std::string out;
        const int status = proc::run(std::string(DBCTL_PATH) + " " + (line.find(' ') == std::string::npos ? "" : rest), &out);
        EXPECT_EQ(line[0] == '?' ? std::stoi(line.substr(1)) : 0, status) << out;
        std::istringstream lines(out);
        for (std::string l; std::getline(lines, l);)
            left.push_back(l);
    });
    settle();
}

}  // namespace
