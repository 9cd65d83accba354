/* The scenarios the Linux side plays under Wine, one per host process:
 * `host SCENARIO PORT [ARGS...]`. The host makes the calls and checks what
 * the library returns; the simulated bus checks what reached the wire. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
#include <tlhelp32.h>

#include "host.h"

int host_failures;

void host_check_failed(const char* text, int line) {
    printf("FAIL: %s (scenarios.c %d)\n", text, line);
    host_failures++;
}

static double now_ms(void) {
    LARGE_INTEGER frequency, count;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&count);
    return (double)count.QuadPart * 1000.0 / (double)frequency.QuadPart;
}

/* Closes the connection and reports how long that took. */
static void exit_timed(void) {
    double start = now_ms();
    exit_tiv3();
    printf("exit_ms %.1f\n", now_ms() - start);
}

static const uint8_t LIGHT_MODE[2] = {0x12, 0x01};

static void scenario_light(int port, int wrong_frame) {
    HOST_CHECK(init_tiv3(port, 0) == 0);
    HOST_CHECK(set_rgbx(5, 0x11223344) == 0);
    HOST_CHECK(fade_rgbx(0x123456, 0xCACBCA01, 0x1234) == 0);
    /* The bus must notice a frame that differs from the one it expects. */
    HOST_CHECK(xd_reset(wrong_frame ? 2 : 1) == 0);
    HOST_CHECK(xd_prog(1, 1) == 0);
    HOST_CHECK(xd_prog(0x10000, 9) == 0);
    HOST_CHECK(tiv_frame_send(216, 0xFE, NULL, 0) == 0);
    HOST_CHECK(tiv_frame_send(0x01000005, 0x7E, LIGHT_MODE, sizeof LIGHT_MODE) == 0);
    exit_timed();
}

static void scenario_setup(int port) {
    HOST_CHECK(init_tiv3(port, 0) == 0);
    HOST_CHECK(set_serial(0x10000, 0x123456) == 0x123456);
    HOST_CHECK(set_group(0x123456, 7) == 0);
    HOST_CHECK(firmware_reset(3) == 0);
    int32_t drawn = set_serial(4, 0);
    printf("drawn %ld\n", (long)drawn);
    HOST_CHECK(drawn >= 0x10000 && drawn <= 0x7FFFFF);
    exit_timed();
}

/* Polls the download until it ends, printing every progress value seen;
 * with stop_at >= 0, clears the run flag once progress reaches it. */
static void follow_download(HANDLE worker, int stop_at) {
    int last = -1;
    double deadline = now_ms() + 30000.0;
    printf("progress");
    while (e2_cmd == 1 && now_ms() < deadline) {
        int percent = e2_percent;
        if (percent != last) printf(" %d", last = percent);
        if (stop_at >= 0 && percent >= stop_at) e2_cmd = 0;
        Sleep(1);
    }
    if (e2_percent != last) printf(" %d", (int)e2_percent);
    printf("\n");
    HOST_CHECK(WaitForSingleObject(worker, 30000) == WAIT_OBJECT_0);
    DWORD code = 99;
    HOST_CHECK(GetExitCodeThread(worker, &code) && code == 0);
    CloseHandle(worker);
    HOST_CHECK(e2_cmd == 0);
    HOST_CHECK(e2_percent == 0);
}

static void scenario_download(int port, const char* image, uint32_t address, int stop_at) {
    HOST_CHECK(init_tiv3(port, 0) == 0);
    HOST_CHECK(load_e2_file(image) == 0);
    printf("image %lu at %lu\n", (unsigned long)e2_len, (unsigned long)e2_adr);
    e2_cmd = 1;
    HANDLE worker = (HANDLE)download(address);
    HOST_CHECK(worker != NULL);
    if (worker) follow_download(worker, stop_at);
    exit_timed();
}

/* Every refused file leaves a box, which returns at once without a display. */
static void scenario_load_errors(const char* missing, const char* too_short, const char* too_low) {
    HOST_CHECK(load_e2_file(missing) == -1);
    HOST_CHECK(load_e2_file(too_short) == -1);
    HOST_CHECK(load_e2_file(too_low) == -1);
    /* Refused after reading: the block holds what the file said. */
    HOST_CHECK(e2_adr == 15 && e2_len == 2);
    HOST_CHECK(e2_data[0] == 0xA5 && e2_data[1] == 0x5A);
}

static void scenario_no_connection(int port) {
    HOST_CHECK(tiv_frame_send(1, 0xFE, NULL, 0) == -1);
    HOST_CHECK(set_rgbx(5, 0x11223344) == -1);
    HOST_CHECK(init_tiv3(port, 0) == 0);
    HOST_CHECK(tiv_frame_send(1, 0xFE, NULL, 0) == 0);
    exit_timed();
    HOST_CHECK(tiv_frame_send(1, 0xFE, NULL, 0) == -1);
}

static void scenario_missing_port(int port) {
    HOST_CHECK(init_tiv3(port, 0) == -1);
    HOST_CHECK(tiv_frame_send(1, 0xFE, NULL, 0) == -1);
    exit_timed();
}

/* Ends the process through the library's fatal stop; returning is a failure. */
static void scenario_fatal(int port, const char* kind) {
    if (strcmp(kind, "port") == 0) {
        init_tiv3(12, 0);
    } else if (strcmp(kind, "baud") == 0) {
        init_tiv3(port, 110);
    } else {
        HOST_CHECK(init_tiv3(port, 0) == 0);
        if (strcmp(kind, "serial") == 0) set_serial(5, 0xFFFF);
        if (strcmp(kind, "group") == 0) set_group(5, 0);
        if (strcmp(kind, "prog") == 0) xd_prog(5, 8);
    }
    printf("FAIL: survived fatal %s\n", kind);
    host_failures++;
    exit_tiv3();
}

static int count_own_threads(void) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) count++;
    CloseHandle(snapshot);
    return count;
}

/* Whether this runtime refuses to wait for the line events the library asks
 * for; the port is opened and closed again before the library takes it. */
static int line_event_wait_refused(int port) {
    char name[16];
    wsprintfA(name, "COM%d", port);
    HANDLE comm = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, NULL);
    if (comm == INVALID_HANDLE_VALUE) return -1;
    OVERLAPPED wait = {0};
    wait.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    DWORD mask = 0;
    SetCommMask(comm, 0x01FF);
    int refused = !WaitCommEvent(comm, &mask, &wait) && GetLastError() != ERROR_IO_PENDING;
    if (!refused) SetCommMask(comm, 0);
    CloseHandle(comm);
    CloseHandle(wait.hEvent);
    return refused;
}

/* The reader thread must end when its wait is refused, the line must stay
 * usable while the bus answers, and closing must not hang. */
static void scenario_reader(int port) {
    printf("wait_refused %d\n", line_event_wait_refused(port));
    int before = count_own_threads();
    HOST_CHECK(init_tiv3(port, 0) == 0);
    HOST_CHECK(xd_reset(1) == 0);
    Sleep(300);
    int open = count_own_threads();
    printf("threads %d %d\n", before, open);
    HOST_CHECK(xd_reset(2) == 0);
    exit_timed();
}

/* Times sends to a physical address from inside the process: each is the
 * frame's write and the 30 ms pause after it, free of the line's jitter. */
static void scenario_pause_timing(int port) {
    HOST_CHECK(init_tiv3(port, 0) == 0);
    printf("send_ms");
    for (int i = 0; i < 40; i++) {
        double start = now_ms();
        HOST_CHECK(xd_reset(0x10000) == 0);
        printf(" %.3f", now_ms() - start);
    }
    printf("\n");
    exit_timed();
}

int run_scenario(int argc, char** argv) {
    const char* name = argv[0];
    int port = argc > 1 ? atoi(argv[1]) : 0;
    if (strcmp(name, "exports") == 0) {
        /* Binding has walked and printed the table. */
    } else if (strcmp(name, "light") == 0 || strcmp(name, "light_wrong") == 0) {
        scenario_light(port, strcmp(name, "light_wrong") == 0);
    } else if (strcmp(name, "setup") == 0) {
        scenario_setup(port);
    } else if (strcmp(name, "download") == 0 && argc == 5) {
        scenario_download(port, argv[2], (uint32_t)strtoul(argv[3], NULL, 0), atoi(argv[4]));
    } else if (strcmp(name, "load_errors") == 0 && argc == 5) {
        scenario_load_errors(argv[2], argv[3], argv[4]);
    } else if (strcmp(name, "no_connection") == 0) {
        scenario_no_connection(port);
    } else if (strcmp(name, "missing_port") == 0) {
        scenario_missing_port(port);
    } else if (strcmp(name, "fatal") == 0 && argc == 3) {
        scenario_fatal(port, argv[2]);
    } else if (strcmp(name, "pause_timing") == 0) {
        scenario_pause_timing(port);
    } else if (strcmp(name, "reader") == 0) {
        scenario_reader(port);
    } else {
        printf("usage: host SCENARIO PORT [ARGS...]; unknown or incomplete: %s\n", name);
        return HOST_USAGE;
    }
    return host_failures ? HOST_CHECK_FAILED : HOST_OK;
}
