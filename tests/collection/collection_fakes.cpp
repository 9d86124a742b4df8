#include "collection_fakes.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <utility>

#include "seam.h"
#include "wlan.h"
#include "wlan_hvd.h"

namespace {

FakeShell *g_shell;
FakeDb *g_db;
rrm_seam_ops g_real;

FILE *fake_open(const char *command, const char *mode)
{
    EXPECT_STREQ(mode, "r");
    g_shell->ran.emplace_back(command);
    if (g_shell->real) {
        FILE *f = g_real.cmd_open(command, mode);
        g_shell->open_streams += f != nullptr;
        return f;
    }
    const auto &bad = g_shell->unstartable;
    if (std::find(bad.begin(), bad.end(), command) != bad.end())
        return nullptr;
    // The stream owns a copy of the text.
    FILE *f = tmpfile();
    if (f == nullptr)
        return nullptr;
    auto it = g_shell->out.find(command);
    if (it != g_shell->out.end())
        fwrite(it->second.data(), 1, it->second.size(), f);
    rewind(f);
    ++g_shell->open_streams;
    return f;
}

int fake_close(FILE *f)
{
    --g_shell->open_streams;
    if (g_shell->real)
        return g_real.cmd_close(f);
    fclose(f);
    return 0;
}

time_t fake_now(time_t *out) { return out != nullptr ? *out = 1700000000 : 1700000000; }

unsigned int fake_sleep(unsigned int) { return 0; }

void *fake_init_sock(unsigned int)
{
    ++g_db->open_clients;
    return g_db;
}

int fake_close_sock(void *client, unsigned int)
{
    EXPECT_EQ(client, g_db);
    --g_db->open_clients;
    return 0;
}

// The list reply: key, field string "FIELD value", ..., and a final '\0'.
std::string list_reply(const std::string &table, const std::string &field)
{
    std::string out;
    for (const auto &kv : g_db->tables[table]) {
        auto f = kv.second.find(field);
        if (f != kv.second.end())
            out += kv.first + '\0' + field + " " + f->second + '\0';
    }
    return out + '\0';
}

int fake_gen_cmd(void *client, char *reply, ...)
{
    EXPECT_EQ(client, g_db);
    Words w;
    va_list ap;
    va_start(ap, reply);
    for (const char *s = va_arg(ap, const char *); s != nullptr; s = va_arg(ap, const char *))
        w.emplace_back(s);
    va_end(ap);
    g_db->commands.push_back(w);

    std::string table, key, text = "OK";
    for (size_t i = 1; i + 1 < w.size(); ++i) {
        if (w[i] == "-t") {
            table = w[++i];
        } else if (w[i] == "-k") {
            key = w[++i];
        } else if (w[i] == "-g") {
            text = g_db->get(table, key, w[++i]);
        } else if (w[i] == "-f" && i + 2 < w.size() && w[i + 2] == "-l") {
            const std::string r = !g_db->raw_list_reply.empty() ? g_db->raw_list_reply : list_reply(table, w[i + 1]);
            memcpy(reply, r.data(), std::min(r.size(), size_t{PARSER_LIST_REPLY_MAX}));
            return 0;
        } else if (w[i] == "-f" && i + 3 < w.size() && w[i + 2] == "-s") {
            for (auto &kv : g_db->tables[table]) {
                if (kv.first == key)
                    kv.second[w[i + 1]] = w[i + 3];
            }
            i += 3;
        }
    }
    size_t n = std::min(text.size(), size_t{PARSER_REPLY_MAX - 1});
    memcpy(reply, text.data(), n);
    reply[n] = '\0';
    return 0;
}

parser_module g_fake_module = {nullptr, nullptr, nullptr, nullptr, fake_init_sock, nullptr, nullptr,
                               fake_close_sock, fake_gen_cmd};

}  // namespace

void FakeDb::put(const std::string &table, const std::string &key, const std::string &field, const std::string &value)
{
    for (auto &kv : tables[table]) {
        if (kv.first == key) {
            kv.second[field] = value;
            return;
        }
    }
    tables[table].push_back({key, {{field, value}}});
}

std::string FakeDb::get(const std::string &table, const std::string &key, const std::string &field) const
{
    auto t = tables.find(table);
    for (const auto &kv : t == tables.end() ? std::vector<Row>{} : t->second) {
        auto f = kv.second.find(field);
        if (kv.first == key && f != kv.second.end())
            return f->second;
    }
    return "N/A";
}

std::vector<Words> FakeDb::take() { return std::exchange(commands, {}); }

void CollectionTest::SetUp()
{
    g_shell = &shell_;
    g_db = &db_;
    rrm_seam_reset();
    g_real = rrm_seam;
    rrm_seam.cmd_open = fake_open;
    rrm_seam.cmd_close = fake_close;
    rrm_seam.now = fake_now;
    rrm_seam.sleep_s = fake_sleep;
    module = &g_fake_module;
    wlan_hvd_module = &g_fake_module;

    ASSERT_FALSE(dir_.empty());
    wlan_debug_file_name = strdup(trace_file_.c_str());
    wlan_debug_flag_name = strdup(trace_flag_.c_str());

    strcpy(wtp_mac_str, "00:11:22:33:44:55");
    strcpy(table_name, kWlan.c_str());
    strcpy(table_name_sta, kSta.c_str());
    strcpy(mesh_table_name, kMesh.c_str());
    slot_num = 0;
    ch_stat = nullptr;
    setenv("HVKIT_HYBRID_MODE", "0", 1);
    setenv("COMMON_LOG_DIR", dir_.c_str(), 1);
}

void CollectionTest::TearDown()
{
    EXPECT_EQ(shell_.open_streams, 0) << "every command is closed";
    EXPECT_EQ(db_.open_clients, 0) << "every client is closed";
    rrm_seam_reset();
    free(const_cast<char *>(wlan_debug_file_name));
    free(const_cast<char *>(wlan_debug_flag_name));
    wlan_debug_file_name = DBG_FILE_NAME;
    wlan_debug_flag_name = DBG_FILE_FLAG;
    free(ch_stat);
    ch_stat = nullptr;
    g_shell = nullptr;
    g_db = nullptr;
}

std::vector<std::string> CollectionTest::take_commands() { return std::exchange(shell_.ran, {}); }

std::string CollectionTest::trace_text() const { return proc::slurp(trace_file_); }

void CollectionTest::enable_trace(bool on)
{
    if (on)
        std::ofstream(trace_flag_).close();
    else
        unlink(trace_flag_.c_str());
}
