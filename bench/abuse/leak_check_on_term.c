// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

/* Preloaded into the window under AddressSanitizer: SIGTERM runs the leak
 * check on the running process (everything still in use is reachable) and
 * exits with its verdict, since a window killed by a signal never reaches
 * the check at exit. */
#include <signal.h>
#include <unistd.h>

int __lsan_do_recoverable_leak_check(void);

static void onTerm(int sig) {
    (void)sig;
    _exit(__lsan_do_recoverable_leak_check() ? 23 : 0);
}

__attribute__((constructor)) static void install(void) {
    signal(SIGTERM, onTerm);
}
