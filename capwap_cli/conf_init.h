/*
 * Environment-overridable settings.
 *
 * Each setting is a process-wide text pointer named like the environment
 * variable that replaces its compiled-in default. Settings are registered
 * with register_string_initenv, which also places one record in the linker
 * section "str_initenv"; do_initenv_initialization walks that section once,
 * at start-up, and applies the overrides in section order.
 *
 * Readers use a setting by reading its pointer at the moment of use.
 */
#ifndef CAPWAP_CLI_CONF_INIT_H
#define CAPWAP_CLI_CONF_INIT_H

#ifdef __cplusplus
extern "C" {
#endif

/* One registration: where the setting's pointer lives and the name of the
 * environment variable that overrides it. */
struct __str_initenv__rec {
    char **store;
    const char *os_env_name;
};

/* Section bounds, provided by the linker. */
extern struct __str_initenv__rec __start_str_initenv[];
extern struct __str_initenv__rec __stop_str_initenv[];

/* Nothing refers to the records by name, only to the section bounds. A
 * linker that collects unused sections (and does not count the bounds as a
 * use, as lld does by default) would drop them all: "retain" keeps the
 * section. GCC 11+ and clang 13+ know it. */
#if defined(__has_attribute)
#if __has_attribute(retain)
#define STR_INITENV_RETAIN retain,
#endif
#endif
#ifndef STR_INITENV_RETAIN
#define STR_INITENV_RETAIN
#endif

/* Defines the setting VAR with the default text DEF and registers it. Use
 * it once per setting, at file scope, all in one source file so that the
 * section keeps their order. */
#define register_string_initenv(var, def)                                     \
    char *var = (char *)(def);                                                \
    __attribute__((used, STR_INITENV_RETAIN section("str_initenv"),           \
                   aligned(sizeof(void *))))                                  \
    struct __str_initenv__rec __str_initenv_##var = {&var, #var}

/* Replaces each setting whose environment variable exists (also when it is
 * empty) with a heap copy of its value. A copy that cannot be made leaves
 * the setting as it was. Called once, before any other thread exists. */
void do_initenv_initialization(void);

/* The settings, in registration order. */
extern char *DOT11_ATH_IWPRIV;
extern char *PING_CHECK_BIN;
extern char *CW_FW_VER_PATH;
extern char *DOT11_ATH_WLANCONFIG;
extern char *WIRELESS_PROC_FILE;
extern char *CAPWAP_DISC_OPTION_BACKUP;
extern char *CW_DEBUG_FILE_PATH;
extern char *CAPWAP_MODEL_PORT_NUM;
extern char *CAPWAP_MODEL_SLOT_NUM;
extern char *CAPWAP_NEED_FW_UPDATE;
extern char *CAPWAP_MODEL_ID;
extern char *CAPWAP_MODEL_NAME;
extern char *CAPWAP_ETH_MAC;
extern char *APPLY_CONFIG_FILE_FORMAT;
extern char *UPDATE_CONFIG_FILE_FORMAT;
extern char *CCA_MD5_CHECK;
extern char *CW_CCA_CONVERTER_PATH;
extern char *CW_CCA_EXTRACT_PATH;
extern char *CW_CCA_INIT_PATH;
extern char *HVSH_CLI_BIN;
extern char *DTLS_OPENSSL_CNF;
extern char *CAPWAP_MAIN_INTERFACE;
extern char *CAPWAP_RX_FW_TEMP_PATH;

#ifdef __cplusplus
}
#endif

#endif
