/* The seam between the plugin's C side, which alone includes Dovecot's
   headers, and its C++ side, which hosts the filter. Plain C on purpose.

   Calls into C (vd_*): mailbox names are Dovecot's virtual names (namespace
   separator included); a function returns -1 after a failure, with its text
   in vd_last_error() until the next vd_* call. Nothing here frees what the
   caller owns.

   Calls into C++ (varnolt_*): never throw and never fail the caller's work;
   they report their own failures. They live in a library of their own,
   loaded when first needed (host_loader.h), which finds the vd_* functions
   in the plugin Dovecot loaded. */
#ifndef VARNOLT_DOVECOT_BRIDGE_H
#define VARNOLT_DOVECOT_BRIDGE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct mail_user;

/* Receives bytes (a message, a name); data is valid only during the call. */
typedef void vd_bytes_callback(void *context, const char *data, size_t size);

/* ---- Into Dovecot (dovecot_mail.c) ---- */

const char *vd_last_error(void);

/* What kind of failure the last one was, as Dovecot classed it. */
enum vd_error_kind {
  VD_ERROR_OTHER = 0,
  VD_ERROR_NOT_FOUND = 1,
  VD_ERROR_EXISTS = 2,
  VD_ERROR_PERMISSION = 3,
  VD_ERROR_QUOTA = 4,
  VD_ERROR_IN_USE = 5,
};
enum vd_error_kind vd_last_error_kind(void);

/* The user's name as Dovecot knows it ("user@domain" or "user"). */
const char *vd_user_name(struct mail_user *user);
/* The domain for a user name without "@": the host's domain. */
const char *vd_default_domain(void);
/* The hierarchy separator of the user's INBOX namespace. */
char vd_separator(struct mail_user *user);
/* What names this run of the Dovecot server: its base folder, and the
   master process's pid file (pid, inode, time), which a restart rewrites.
   Only the base folder when no server runs (dovecot-lda alone). */
const char *vd_instance(struct mail_user *user);
/* The plugin setting of that name, or NULL. */
const char *vd_setting(struct mail_user *user, const char *name);

/* 1 when the mailbox exists, 0 when not, -1 on failure. */
int vd_mailbox_exists(struct mail_user *user, const char *vname);
/* 0 created, 1 it already existed, -1 failure. */
int vd_mailbox_create(struct mail_user *user, const char *vname);
/* The first mailbox with the \Trash special use: 1 found (name passed to the
   callback), 0 none, -1 failure. */
int vd_trash_mailbox(struct mail_user *user, vd_bytes_callback *callback, void *context);

/* The stored message: its bytes go to content, each keyword to keyword.
   1 found, 0 no such message (also one expunged while it is read), -1 failure. */
int vd_message_read(struct mail_user *user, const char *vname, uint32_t uid, vd_bytes_callback *content,
                    vd_bytes_callback *keyword, void *context);
/* Adds, then removes keywords (NULL-terminated lists, either may be empty).
   A message that is no longer there (moved or expunged by another session)
   fails with VD_ERROR_NOT_FOUND, as does a read that finds it expunged. */
int vd_message_keywords(struct mail_user *user, const char *vname, uint32_t uid, const char *const *add,
                        const char *const *remove);
/* Saves a new message with the keywords; its UID in *uid_r. */
int vd_message_save(struct mail_user *user, const char *vname, const char *data, size_t size,
                    const char *const *keywords, uint32_t *uid_r);
/* Moves the message to another mailbox; its new UID in *uid_r. */
int vd_message_move(struct mail_user *user, const char *vname, uint32_t uid, const char *dest_vname,
                    uint32_t *uid_r);

/* An error line in Dovecot's log with the plugin's prefix, in the user's context when given. */
void vd_log_error(struct mail_user *user, const char *text);
/* The same as an informational line: what happened, and is no failure. */
void vd_log_info(struct mail_user *user, const char *text);

/* ---- Into the filter's host (C++) ---- */

/* What the filter decided for a delivered message. */
struct varnolt_verdict {
  /* The mailbox to save into; NULL: where the delivery meant to. Valid until
     the next varnolt_judge_delivery. */
  const char *mailbox;
  int32_t marker; /* 0 when the filter wrote none */
  int hidden;
  /* NULL-terminated keywords to give the saved message; valid as mailbox. */
  const char *const *keywords;
};

/* Runs the filter's new-mail event on a message about to be delivered to the
   user's default_mailbox. 0 with the verdict filled in; -1 when the message
   goes unfiltered (the reason is logged). */
int varnolt_judge_delivery(struct mail_user *user, const char *home, const char *content, size_t size,
                           const char *default_mailbox, struct varnolt_verdict *verdict);
typedef int varnolt_judge_delivery_func(struct mail_user *user, const char *home, const char *content, size_t size,
                                        const char *default_mailbox, struct varnolt_verdict *verdict);

/* The message as it is stored: incoming X-Varnolt lines removed and, when
   marker is not 0, the filter's own X-Varnolt line added to its header. */
void varnolt_stamp_message(const char *content, size_t size, int32_t marker, vd_bytes_callback *output,
                           void *context);
typedef void varnolt_stamp_message_func(const char *content, size_t size, int32_t marker, vd_bytes_callback *output,
                                        void *context);

/* How much of a message's start its stamp depends on: the header section
   with the blank line that ends it, when content (the message's first bytes)
   holds all of it; 0 when more must be read. The stamp of the whole message is
   the stamp of that part followed by the rest unchanged. */
size_t varnolt_stamped_length(const char *content, size_t size);
typedef size_t varnolt_stamped_length_func(const char *content, size_t size);

/* What a user's save was: 0 raises nothing (a plain copy). */
enum varnolt_save_kind {
  VARNOLT_SAVE_COPY = 0,
  VARNOLT_SAVE_MOVE = 1,   /* IMAP MOVE: the user-move event */
  VARNOLT_SAVE_APPEND = 2, /* IMAP APPEND: the client-create event */
};

/* Raises the filter's event of that kind on the message the user placed at
   mailbox/uid (its commit is done). */
void varnolt_user_saved(struct mail_user *user, const char *home, const char *mailbox, uint32_t uid,
                        int kind);
typedef void varnolt_user_saved_func(struct mail_user *user, const char *home, const char *mailbox, uint32_t uid,
                                     int kind);

#ifdef __cplusplus
}
#endif

#endif
