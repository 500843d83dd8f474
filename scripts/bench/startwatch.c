/* Starts a program and measures it as a person sees it: the time from launch until its first
 * top-level window is mapped on the X display, then its resident memory one second later.
 * Prints "<milliseconds> <KiB> <window id>" and leaves the program running; its process id is
 * written to the file named by the first argument, so the caller can use and end it.
 *   startwatch PIDFILE PROGRAM [ARGS...]                                                      */
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <xcb/xcb.h>

static double now_ms(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

static long rss_kib(pid_t pid)
{
    char path[64], line[256];
    long kib = -1;
    snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
    FILE *status = fopen(path, "r");
    if (!status)
        return -1;
    while (fgets(line, sizeof line, status))
        if (sscanf(line, "VmRSS: %ld kB", &kib) == 1)
            break;
    fclose(status);
    return kib;
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: startwatch PIDFILE PROGRAM [ARGS...]\n");
        return 2;
    }
    xcb_connection_t *x = xcb_connect(NULL, NULL);
    if (xcb_connection_has_error(x)) {
        fprintf(stderr, "startwatch: no X display\n");
        return 1;
    }
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x);

    const double start = now_ms();
    const pid_t pid = fork();
    if (pid == 0) {
        /* The program's output must not hold the caller's pipe open. */
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        execv(argv[2], argv + 2);
        _exit(127);
    }
    FILE *pidfile = fopen(argv[1], "w");
    if (pidfile) {
        fprintf(pidfile, "%d\n", (int)pid);
        fclose(pidfile);
    }

    xcb_generic_event_t *event;
    while ((event = xcb_wait_for_event(x))) {
        if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY) {
            const xcb_map_notify_event_t *map = (const xcb_map_notify_event_t *)event;
            if (!map->override_redirect && map->event == root) {
                const double mapped = now_ms() - start;
                const xcb_window_t window = map->window;
                free(event);
                sleep(1);
                printf("%.2f %ld %u\n", mapped, rss_kib(pid), window);
                xcb_disconnect(x);
                return 0;
            }
        }
        free(event);
    }
    kill(pid, SIGTERM);
    fprintf(stderr, "startwatch: the display went away\n");
    return 1;
}
