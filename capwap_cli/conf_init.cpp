// The settings table and the start-up step that applies the environment.
#include "conf_init.h"

#include <cstdlib>
#include <cstring>

extern "C" {

// The order here is the section order, and so the order of application.
register_string_initenv(DOT11_ATH_IWPRIV, "iwpriv");
register_string_initenv(PING_CHECK_BIN, "/usr/local/bin/capwap/ping_check.sh");
register_string_initenv(CW_FW_VER_PATH, "/rw/fwversion");
register_string_initenv(DOT11_ATH_WLANCONFIG, "wlanconfig");
register_string_initenv(WIRELESS_PROC_FILE, "/proc/net/wireless");
register_string_initenv(CAPWAP_DISC_OPTION_BACKUP, "/tmp/cw_disc_option.backup");
register_string_initenv(CW_DEBUG_FILE_PATH, "/tmp/cw_dbg_log");
register_string_initenv(CAPWAP_MODEL_PORT_NUM, "1");
register_string_initenv(CAPWAP_MODEL_SLOT_NUM, "1");
register_string_initenv(CAPWAP_NEED_FW_UPDATE, "0");
register_string_initenv(CAPWAP_MODEL_ID, "1b00");
register_string_initenv(CAPWAP_MODEL_NAME, "Ubuntu-PC");
register_string_initenv(CAPWAP_ETH_MAC, "00:11:22:33:44:55");
register_string_initenv(APPLY_CONFIG_FILE_FORMAT, "/tmp/applyConf_%u.tar.bz2");
register_string_initenv(UPDATE_CONFIG_FILE_FORMAT, "/tmp/updateConf_%u.tar.bz2");
register_string_initenv(CCA_MD5_CHECK, "/tmp/cca_md5error");
register_string_initenv(CW_CCA_CONVERTER_PATH, "/var/halvo/capwap/cca_converter.sh");
register_string_initenv(CW_CCA_EXTRACT_PATH, "/usr/local/bin/capwap/cca_extract.sh");
register_string_initenv(CW_CCA_INIT_PATH, "/usr/local/bin/capwap/cca_init.sh");
register_string_initenv(HVSH_CLI_BIN, "/bin/hvsh");
register_string_initenv(DTLS_OPENSSL_CNF, "/usr/local/ssl/openssl.cnf");
register_string_initenv(CAPWAP_MAIN_INTERFACE, "br0");
register_string_initenv(CAPWAP_RX_FW_TEMP_PATH, "/tmp/AP-image");

void do_initenv_initialization(void)
{
    for (struct __str_initenv__rec *rec = __start_str_initenv; rec < __stop_str_initenv; ++rec) {
        const char *value = getenv(rec->os_env_name);
        if (value == nullptr)
            continue;
        // An empty value overrides too. Without memory the default stays:
        // a setting is never left null.
        char *copy = strdup(value);
        if (copy != nullptr)
            *rec->store = copy;
    }
}

}  // extern "C"
