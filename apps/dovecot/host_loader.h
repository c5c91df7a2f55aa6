/* The filter's side of the plugin lives in a library of its own, loaded on
   the first event that needs it: a Dovecot process that never delivers nor
   sees a user's move or append (most IMAP sessions) never loads it, nor
   C++, the MIME parser or SQLite. Plain C. */
#ifndef VARNOLT_HOST_LOADER_H
#define VARNOLT_HOST_LOADER_H

#include "dovecot_bridge.h"

/* The file name of the library, beside the plugin's own file. */
#define VARNOLT_HOST_LIBRARY "libvarnolt_dovecot_host.so"

struct varnolt_host {
	varnolt_judge_delivery_func *judge_delivery;
	varnolt_stamp_message_func *stamp_message;
	varnolt_stamped_length_func *stamped_length;
	varnolt_user_saved_func *user_saved;
};

/* The loaded library's entry points; NULL when it cannot be loaded, with the
   reason in *error_r. A failed load is tried again on the next call. */
const struct varnolt_host *varnolt_host_load(const char **error_r);

#endif
