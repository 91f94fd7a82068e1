/* A left click for a headless compositor, whose seat has no pointer: a pointer made through
 * wlroots' zwlr_virtual_pointer_v1 protocol (sway) or KWin's org_kde_kwin_fake_input moves to
 * (X, Y) of an output of WIDTH x HEIGHT, presses and releases the left button, and parks in
 * the output's bottom right corner (the compositor draws the pointer into screen captures).
 * Returns once the compositor has handled it all.
 *     virtual_pointer X Y WIDTH HEIGHT
 * Without arguments it only gives the seat a pointer until its standard input closes: clients
 * take up a seat's pointer only when it appears, so one must be there before the program.
 */
#include "fake-input-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <linux/input-event-codes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wayland-client.h>

static struct wl_seat *seat;
static struct zwlr_virtual_pointer_manager_v1 *manager;
static struct org_kde_kwin_fake_input *fake_input;

static void global(void *data, struct wl_registry *registry, uint32_t name, const char *interface,
                   uint32_t version)
{
    (void)data;
    if (strcmp(interface, wl_seat_interface.name) == 0 && !seat)
        seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
    else if (strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
        manager = wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
    else if (strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 3)
        fake_input = wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 3);
}

static void global_remove(void *data, struct wl_registry *registry, uint32_t name)
{
    (void)data;
    (void)registry;
    (void)name;
}

static const struct wl_registry_listener registry_listener = {global, global_remove};

/* One event per frame, each handled before the next: press and release arrive apart. */
static void move(struct wl_display *display, struct zwlr_virtual_pointer_v1 *pointer, uint32_t x,
                 uint32_t y, uint32_t width, uint32_t height)
{
    if (pointer) {
        zwlr_virtual_pointer_v1_motion_absolute(pointer, 0, x, y, width, height);
        zwlr_virtual_pointer_v1_frame(pointer);
    } else {
        org_kde_kwin_fake_input_pointer_motion_absolute(fake_input, wl_fixed_from_int((int)x),
                                                        wl_fixed_from_int((int)y));
    }
    wl_display_roundtrip(display);
}

static void button(struct wl_display *display, struct zwlr_virtual_pointer_v1 *pointer, int pressed)
{
    if (pointer) {
        zwlr_virtual_pointer_v1_button(pointer, 0, BTN_LEFT,
                                       pressed ? WL_POINTER_BUTTON_STATE_PRESSED
                                               : WL_POINTER_BUTTON_STATE_RELEASED);
        zwlr_virtual_pointer_v1_frame(pointer);
    } else {
        org_kde_kwin_fake_input_button(fake_input, BTN_LEFT, pressed ? 1 : 0);
    }
    wl_display_roundtrip(display);
}

int main(int argc, char **argv)
{
    if (argc != 5 && argc != 1) {
        fprintf(stderr, "usage: virtual_pointer [X Y WIDTH HEIGHT]\n");
        return 2;
    }
    struct wl_display *display = wl_display_connect(NULL);
    if (!display)
        return 1;
    struct wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, NULL);
    wl_display_roundtrip(display);
    struct zwlr_virtual_pointer_v1 *pointer = NULL;
    if (manager) {
        pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, seat);
    } else if (fake_input) {
        /* KWin lets it in when started with KWIN_WAYLAND_NO_PERMISSION_CHECKS=1. */
        org_kde_kwin_fake_input_authenticate(fake_input, "virtual_pointer", "test clicks");
    } else {
        fprintf(stderr, "virtual_pointer: the compositor has no virtual pointers\n");
        return 1;
    }
    wl_display_roundtrip(display);
    if (argc == 1) {
        printf("ready\n");
        fflush(stdout);
        while (getchar() != EOF)
            ;
    } else {
        const uint32_t width = (uint32_t)atoi(argv[3]), height = (uint32_t)atoi(argv[4]);
        const uint32_t x = (uint32_t)atoi(argv[1]), y = (uint32_t)atoi(argv[2]);
        /* A step before the last: a pointer that is already there would not move, and a
         * surface that appeared under it since would not learn of it. */
        move(display, pointer, x > 0 ? x - 1 : x + 1, y, width, height);
        move(display, pointer, x, y, width, height);
        button(display, pointer, 1);
        button(display, pointer, 0);
        move(display, pointer, width - 1, height - 1, width, height);
    }
    if (pointer)
        zwlr_virtual_pointer_v1_destroy(pointer);
    if (manager)
        zwlr_virtual_pointer_manager_v1_destroy(manager);
    if (fake_input)
        org_kde_kwin_fake_input_destroy(fake_input);
    if (seat)
        wl_seat_destroy(seat);
    wl_registry_destroy(registry);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
