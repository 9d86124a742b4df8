#include "collection_fakes.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "seam.h"
#include "wlan.h"
#include "wlan_hvd.h"

FakeShell *g_shell;
FakeDb *g_db;

namespace {

FILE *fake_open(const char *command, const char *mode)
{
    EXPECT_STREQ(mode, "r");
    g_shell->ran.emplace_back(command);
    const auto &bad = g_shell->unstartable;
    if (std::find(bad.begin(), bad.end(), command) != bad.end())
        return nullptr;
    auto it = g_shell->out.find(command);
    FILE *f = nullptr;
    if (it == g_shell->out.end() || it->second.empty()) {
        f = fopen("/dev/null", "r");
    } else {
        // The stream owns a copy of the text.
        f = tmpfile();
        fwrite(it->second.data(), 1, it->second.size(), f);
        rewind(f);
    }
    if (f != nullptr)
        ++g_shell->open_streams;
    return f;
}

int fake_close(FILE *f)
{
    --g_shell->open_streams;
    fclose(f);
    return 0;
}

time_t fake_now(time_t *out)
{
    time_t t = 1700000000;
    if (out != nullptr)
        *out = t;
    return t;
}

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

void reply_text(char *reply, const std::string &text)
{
    size_t n = std::min(text.size(), size_t{PARSER_REPLY_MAX - 1});
    memcpy(reply, text.data(), n);
    reply[n] = '\0';
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

    std::string table, key;
    bool has_key = false;
    for (size_t i = 1; i < w.size(); ++i) {
        if (w[i] == "-t" && i + 1 < w.size()) {
            table = w[++i];
        } else if (w[i] == "-k" && i + 1 < w.size()) {
            key = w[++i];
            has_key = true;
        } else if (w[i] == "-g" && i + 1 < w.size()) {
            reply_text(reply, g_db->get(table, key, w[++i]));
            return 0;
        } else if (w[i] == "-f" && i + 2 < w.size() && w[i + 2] == "-l") {
            const std::string field = w[i + 1];
            if (g_db->use_raw_list) {
                memcpy(reply, g_db->raw_list_reply.data(), g_db->raw_list_reply.size());
                return 0;
            }
            std::string out;
            for (const auto &kv : g_db->tables[table]) {
                auto f = kv.second.find(field);
                if (f == kv.second.end())
                    continue;
                out += kv.first;
                out += '\0';
                out += field + " " + f->second;
                out += '\0';
            }
            out += '\0';
            memcpy(reply, out.data(), std::min(out.size(), size_t{PARSER_LIST_REPLY_MAX}));
            return 0;
        } else if (w[i] == "-f" && i + 3 < w.size() && w[i + 2] == "-s") {
            if (has_key) {
                auto &keys = g_db->tables[table];
                for (auto &kv : keys) {
                    if (kv.first == key)
                        kv.second[w[i + 1]] = w[i + 3];
                }
            }
            i += 3;
        }
    }
    reply_text(reply, "OK");
    return 0;
}

}  // namespace

parser_module g_fake_module = {nullptr, nullptr, nullptr, nullptr, fake_init_sock, nullptr, nullptr,
                               fake_close_sock, fake_gen_cmd};

void FakeDb::put(const std::string &table, const std::string &key, const std::string &field, const std::string &value)
{
    auto &keys = tables[table];
    for (auto &kv : keys) {
        if (kv.first == key) {
            kv.second[field] = value;
            return;
        }
    }
    keys.push_back({key, {{field, value}}});
}

std::string FakeDb::get(const std::string &table, const std::string &key, const std::string &field) const
{
    auto t = tables.find(table);
    if (t == tables.end())
        return "N/A";
    for (const auto &kv : t->second) {
        if (kv.first != key)
            continue;
        auto f = kv.second.find(field);
        return f == kv.second.end() ? "N/A" : f->second;
    }
    return "N/A";
}

std::vector<Words> FakeDb::take()
{
    std::vector<Words> out;
    out.swap(commands);
    return out;
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void CollectionTest::SetUp()
{
    g_shell = &shell_;
    g_db = &db_;
    rrm_seam.cmd_open = fake_open;
    rrm_seam.cmd_close = fake_close;
    rrm_seam.now = fake_now;
    rrm_seam.sleep_s = fake_sleep;
    module = &g_fake_module;
    wlan_hvd_module = &g_fake_module;

    char tmpl[] = "/tmp/rrm-collection-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    trace_file_ = dir_ + "/trace.txt";
    trace_flag_ = dir_ + "/trace.flag";
    wlan_debug_file_name = strdup(trace_file_.c_str());
    wlan_debug_flag_name = strdup(trace_flag_.c_str());

    strcpy(wtp_mac_str, "00:11:22:33:44:55");
    strcpy(table_name, "WLAN-00:11:22:33:44:55");
    strcpy(table_name_sta, "STA_STATISTIC-00:11:22:33:44:55");
    strcpy(mesh_table_name, "MESH_STA_STATISTIC-00:11:22:33:44:55");
    slot_num = 0;
    ch_stat = nullptr;
    setenv("HVKIT_HYBRID_MODE", "0", 1);
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
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

std::vector<std::string> CollectionTest::take_commands()
{
    std::vector<std::string> out;
    out.swap(shell_.ran);
    return out;
}

std::string CollectionTest::trace_text() const { return read_file(trace_file_); }

void CollectionTest::enable_trace(bool on)
{
    if (on) {
        FILE *f = fopen(trace_flag_.c_str(), "w");
        ASSERT_NE(f, nullptr);
        fclose(f);
    } else {
        unlink(trace_flag_.c_str());
    }
}
