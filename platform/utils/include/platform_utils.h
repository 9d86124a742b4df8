/*
 * MAC address and process utilities of the platform.
 */
#ifndef PLATFORM_UTILS_H
#define PLATFORM_UTILS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Length of a MAC text as mac2str writes it, with its NUL. */
#define MAC_STR_LEN 18

/* Parses six hexadecimal octets of one or two digits separated by ':' (or
 * all by '-') into mac[6]. Returns 0, or -1 for any other text (mac is then
 * left untouched). */
int str2mac(const char *str, unsigned char *mac);

/* Writes mac[6] as "xx:xx:xx:xx:xx:xx" (lower case) into str, which holds at
 * least MAC_STR_LEN bytes. Returns str. */
char *mac2str(const unsigned char *mac, char *str);

/* 1 when str is a MAC text that str2mac accepts, else 0. */
int isMac(const char *str);

/* Reads the hardware address of the named interface into mac[6]. Returns 0,
 * or -1 (mac all zero) when the name is empty or too long or the interface
 * cannot be asked. */
int capwapUtlGetIfMAC(const char *ifname, unsigned char *mac);

/* Prepares the process title: moves the environment out of the way (getenv
 * keeps working) and takes over the argument area. The prefix is put before
 * every title set_title makes. Call once, from main's arguments. Returns 0, or
 * -1 when there is no room (set_title then does nothing). */
int init_title(int argc, char **argv, char **envp, const char *prefix);

/* Sets the title that ps shows to the prefix followed by the formatted text,
 * cut to the room there is. */
void set_title(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

#ifdef __cplusplus
}
#endif

#endif
