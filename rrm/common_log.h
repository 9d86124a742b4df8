/*
 * The platform's common log: named logs of time-stamped lines.
 *
 * common_log appends one line, "YYYY-MM-DD HH:MM:SS <text>", to the file
 * named after the log in the log folder. When the line would take the file
 * past max_size bytes, the file is started afresh and the previous one is
 * kept as "<log_name>.1". The text is data, never a format; line breaks and
 * other control characters in it become spaces.
 */
#ifndef RRM_COMMON_LOG_H
#define RRM_COMMON_LOG_H

#ifdef __cplusplus
extern "C" {
#endif

/* Returns 0 when the line was written, -1 otherwise (bad log name, folder or
 * file not writable). Safe to call from several threads and processes. */
int common_log(const char *log_name, int max_size, const char *text);

#ifdef __cplusplus
}
#endif

#endif
