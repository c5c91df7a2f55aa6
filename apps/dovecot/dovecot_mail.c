/* The plugin's mailbox operations over Dovecot's storage API, for the
   filter's store interface on the C++ side. Each call opens what it needs
   and closes it again, so that no Dovecot object outlives the call. */
#include "lib.h"
#include "array.h"
#include "str.h"
#include "istream.h"
#include "hostpid.h"
#include "seq-range-array.h"
#include "mail-user.h"
#include "mail-namespace.h"
#include "mail-storage.h"
#include "mailbox-list-iter.h"
#include "dovecot_bridge.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static char last_error[512];
static enum vd_error_kind last_error_kind;

static void set_error(const char *what, const char *detail)
{
	i_snprintf(last_error, sizeof(last_error), "%s: %s", what, detail);
	last_error_kind = VD_ERROR_OTHER;
}

static enum vd_error_kind kind_of(enum mail_error error)
{
	switch (error) {
	case MAIL_ERROR_NOTFOUND:
	case MAIL_ERROR_EXPUNGED:
		return VD_ERROR_NOT_FOUND;
	case MAIL_ERROR_EXISTS:
		return VD_ERROR_EXISTS;
	case MAIL_ERROR_PERM:
		return VD_ERROR_PERMISSION;
	case MAIL_ERROR_NOQUOTA:
		return VD_ERROR_QUOTA;
	case MAIL_ERROR_INUSE:
		return VD_ERROR_IN_USE;
	default:
		return VD_ERROR_OTHER;
	}
}

/* A message that another session moved or expunged meanwhile. */
static void set_message_gone(const char *vname)
{
	set_error(vname, "the message is no longer there");
	last_error_kind = VD_ERROR_NOT_FOUND;
}

/* Dovecot's own text of the failure, and its kind: a full mailbox or a
   denied access reaches the filter as what it is. */
static void set_box_error(const char *what, struct mailbox *box)
{
	enum mail_error error;
	set_error(what, mailbox_get_last_internal_error(box, &error));
	last_error_kind = kind_of(error);
}

const char *vd_last_error(void)
{
	return last_error;
}

enum vd_error_kind vd_last_error_kind(void)
{
	return last_error_kind;
}

const char *vd_user_name(struct mail_user *user)
{
	return user->username;
}

const char *vd_default_domain(void)
{
	return my_hostdomain();
}

char vd_separator(struct mail_user *user)
{
	struct mail_namespace *ns = mail_namespace_find_inbox(user->namespaces);
	return ns == NULL ? '/' : mail_namespace_get_sep(ns);
}

const char *vd_instance(struct mail_user *user)
{
	static char instance[1024];
	const char *base_dir = user->set->base_dir;
	const char *pid_path = t_strconcat(base_dir, "/master.pid", NULL);
	char pid[32] = "";
	struct stat st;
	/* The file is the master's alone (mode 0600): its inode and time name
	   the run to a mail process too, the pid only where it can be read. */
	if (stat(pid_path, &st) < 0) {
		i_snprintf(instance, sizeof(instance), "%s", base_dir);
		return instance;
	}
	int fd = open(pid_path, O_RDONLY);
	if (fd >= 0) {
		ssize_t n = read(fd, pid, sizeof(pid) - 1);
		pid[n > 0 ? n : 0] = '\0';
		pid[strcspn(pid, "\r\n")] = '\0';
		i_close_fd(&fd);
	}
	i_snprintf(instance, sizeof(instance), "%s pid %s inode %llu time %lld.%09ld", base_dir, pid,
		   (unsigned long long)st.st_ino, (long long)st.st_mtim.tv_sec, (long)st.st_mtim.tv_nsec);
	return instance;
}

const char *vd_setting(struct mail_user *user, const char *name)
{
	return mail_user_plugin_getenv(user, name);
}

static struct mailbox *box_alloc(struct mail_user *user, const char *vname)
{
	struct mail_namespace *ns = mail_namespace_find(user->namespaces, vname);
	return mailbox_alloc(ns->list, vname, 0);
}

int vd_mailbox_exists(struct mail_user *user, const char *vname)
{
	struct mailbox *box = box_alloc(user, vname);
	enum mailbox_existence existence;
	int ret = 0;

	if (mailbox_exists(box, TRUE, &existence) < 0) {
		set_box_error(vname, box);
		ret = -1;
	} else if (existence == MAILBOX_EXISTENCE_SELECT) {
		ret = 1;
	}
	mailbox_free(&box);
	return ret;
}

int vd_mailbox_create(struct mail_user *user, const char *vname)
{
	struct mailbox *box = box_alloc(user, vname);
	enum mail_error error;
	int ret = 0;

	if (mailbox_create(box, NULL, FALSE) < 0) {
		const char *text = mailbox_get_last_error(box, &error);
		if (error == MAIL_ERROR_EXISTS)
			ret = 1;
		else {
			set_error(vname, text);
			ret = -1;
		}
	}
	mailbox_free(&box);
	return ret;
}

static bool is_trash(const char *special_use)
{
	if (special_use == NULL)
		return FALSE;
	const char *const *uses = t_strsplit_spaces(special_use, " ");
	for (; *uses != NULL; uses++) {
		if (strcasecmp(*uses, "\\Trash") == 0)
			return TRUE;
	}
	return FALSE;
}

int vd_trash_mailbox(struct mail_user *user, vd_bytes_callback *callback, void *context)
{
	const char *patterns[] = { "*", NULL };
	struct mailbox_list_iterate_context *iter;
	const struct mailbox_info *info;
	int ret = 0;

	iter = mailbox_list_iter_init_namespaces(user->namespaces, patterns, MAIL_NAMESPACE_TYPE_PRIVATE,
						 MAILBOX_LIST_ITER_RETURN_SPECIALUSE);
	while (ret == 0 && (info = mailbox_list_iter_next(iter)) != NULL) {
		bool trash;
		T_BEGIN {
			trash = is_trash(info->special_use);
		} T_END;
		if (trash) {
			callback(context, info->vname, strlen(info->vname));
			ret = 1;
		}
	}
	if (mailbox_list_iter_deinit(&iter) < 0 && ret == 0) {
		set_error("listing mailboxes", "failed");
		ret = -1;
	}
	return ret;
}

/* An open, synced mailbox with a transaction and the message of that UID
   selected; 1 found, 0 not there, -1 failure. The caller ends it with
   message_close. */
struct opened_message {
	struct mailbox *box;
	struct mailbox_transaction_context *t;
	struct mail *mail;
};

static int message_open(struct mail_user *user, const char *vname, uint32_t uid,
			enum mailbox_transaction_flags flags, struct opened_message *msg_r)
{
	i_zero(msg_r);
	msg_r->box = box_alloc(user, vname);
	if (mailbox_open(msg_r->box) < 0 || mailbox_sync(msg_r->box, 0) < 0) {
		set_box_error(vname, msg_r->box);
		return -1;
	}
	msg_r->t = mailbox_transaction_begin(msg_r->box, flags, "varnolt");
	msg_r->mail = mail_alloc(msg_r->t, 0, NULL);
	return mail_set_uid(msg_r->mail, uid) ? 1 : 0;
}

static int message_close(struct opened_message *msg, bool commit)
{
	int ret = 0;
	if (msg->mail != NULL)
		mail_free(&msg->mail);
	if (msg->t != NULL) {
		if (!commit)
			mailbox_transaction_rollback(&msg->t);
		else if (mailbox_transaction_commit(&msg->t) < 0) {
			set_box_error(mailbox_get_vname(msg->box), msg->box);
			ret = -1;
		}
	}
	mailbox_free(&msg->box);
	return ret;
}

int vd_message_read(struct mail_user *user, const char *vname, uint32_t uid, vd_bytes_callback *content,
		    vd_bytes_callback *keyword, void *context)
{
	struct opened_message msg;
	struct istream *input;
	const unsigned char *data;
	size_t size;
	int ret = message_open(user, vname, uid, 0, &msg);

	if (ret > 0 && mail_get_stream(msg.mail, NULL, NULL, &input) < 0) {
		enum mail_error error;
		set_box_error(vname, msg.box);
		/* Expunged by another session between the sync and the read: not there, as after the sync. */
		(void)mailbox_get_last_internal_error(msg.box, &error);
		ret = error == MAIL_ERROR_EXPUNGED ? 0 : -1;
	}
	if (ret > 0) {
		while (i_stream_read_more(input, &data, &size) > 0) {
			content(context, (const char *)data, size);
			i_stream_skip(input, size);
		}
		if (input->stream_errno != 0) {
			set_error(vname, i_stream_get_error(input));
			ret = -1;
		}
	}
	if (ret > 0) {
		const char *const *keywords = mail_get_keywords(msg.mail);
		for (; *keywords != NULL; keywords++)
			keyword(context, *keywords, strlen(*keywords));
	}
	message_close(&msg, FALSE);
	return ret;
}

static void update_keywords(struct mail *mail, enum modify_type type, const char *const *names)
{
	if (names == NULL || names[0] == NULL)
		return;
	struct mail_keywords *kw = mailbox_keywords_create_valid(mail->box, names);
	mail_update_keywords(mail, type, kw);
	mailbox_keywords_unref(&kw);
}

int vd_message_keywords(struct mail_user *user, const char *vname, uint32_t uid, const char *const *add,
			const char *const *remove)
{
	struct opened_message msg;
	int ret = message_open(user, vname, uid, 0, &msg);

	if (ret == 0)
		set_message_gone(vname);
	if (ret > 0) {
		update_keywords(msg.mail, MODIFY_ADD, add);
		update_keywords(msg.mail, MODIFY_REMOVE, remove);
	}
	if (message_close(&msg, ret > 0) < 0)
		ret = -1;
	return ret > 0 ? 0 : -1;
}

/* The one UID a commit assigned. */
static int commit_get_uid(struct mailbox_transaction_context **t, struct mailbox *box, uint32_t *uid_r)
{
	struct mail_transaction_commit_changes changes;
	if (mailbox_transaction_commit_get_changes(t, &changes) < 0) {
		set_box_error(mailbox_get_vname(box), box);
		return -1;
	}
	int ret = 0;
	if (seq_range_count(&changes.saved_uids) == 1) {
		const struct seq_range *range = array_front(&changes.saved_uids);
		*uid_r = range->seq1;
	} else {
		set_error(mailbox_get_vname(box), "the store assigned no UID");
		ret = -1;
	}
	pool_unref(&changes.pool);
	return ret;
}

int vd_message_save(struct mail_user *user, const char *vname, const char *data, size_t size,
		    const char *const *keywords, uint32_t *uid_r)
{
	struct mailbox *box = box_alloc(user, vname);
	int ret = 0;

	if (mailbox_open(box) < 0) {
		set_box_error(vname, box);
		mailbox_free(&box);
		return -1;
	}
	struct mailbox_transaction_context *t =
		mailbox_transaction_begin(box, MAILBOX_TRANSACTION_FLAG_EXTERNAL | MAILBOX_TRANSACTION_FLAG_ASSIGN_UIDS, "varnolt");
	struct mail_save_context *save = mailbox_save_alloc(t);
	struct mail_keywords *kw = keywords == NULL || keywords[0] == NULL ? NULL :
		mailbox_keywords_create_valid(box, keywords);
	mailbox_save_set_flags(save, 0, kw);
	if (kw != NULL)
		mailbox_keywords_unref(&kw);

	struct istream *input = i_stream_create_from_data(data, size);
	if (mailbox_save_begin(&save, input) < 0)
		ret = -1;
	else {
		ssize_t got;
		do {
			if (mailbox_save_continue(save) < 0) {
				ret = -1;
				break;
			}
		} while ((got = i_stream_read(input)) > 0 || got == -2);
		if (ret < 0)
			mailbox_save_cancel(&save);
		else if (mailbox_save_finish(&save) < 0)
			ret = -1;
	}
	i_stream_unref(&input);
	if (ret < 0) {
		set_box_error(vname, box);
		mailbox_transaction_rollback(&t);
	} else {
		ret = commit_get_uid(&t, box, uid_r);
	}
	mailbox_free(&box);
	return ret;
}

int vd_message_move(struct mail_user *user, const char *vname, uint32_t uid, const char *dest_vname,
		    uint32_t *uid_r)
{
	struct opened_message msg;
	int ret = message_open(user, vname, uid, 0, &msg);
	if (ret == 0)
		set_message_gone(vname);
	if (ret <= 0) {
		message_close(&msg, FALSE);
		return -1;
	}
	struct mailbox *dest = box_alloc(user, dest_vname);
	if (mailbox_open(dest) < 0) {
		set_box_error(dest_vname, dest);
		mailbox_free(&dest);
		message_close(&msg, FALSE);
		return -1;
	}
	struct mailbox_transaction_context *dt =
		mailbox_transaction_begin(dest, MAILBOX_TRANSACTION_FLAG_EXTERNAL | MAILBOX_TRANSACTION_FLAG_ASSIGN_UIDS, "varnolt");
	struct mail_save_context *save = mailbox_save_alloc(dt);
	ret = 0;
	if (mailbox_move(&save, msg.mail) < 0) {
		set_box_error(dest_vname, dest);
		mailbox_transaction_rollback(&dt);
		ret = -1;
	} else if (commit_get_uid(&dt, dest, uid_r) < 0) {
		ret = -1;
	}
	/* The expunge of the original is committed only once the copy is. */
	if (message_close(&msg, ret == 0) < 0)
		ret = -1;
	mailbox_free(&dest);
	return ret;
}

void vd_log_error(struct mail_user *user, const char *text)
{
	if (user != NULL)
		e_error(user->event, "varnolt: %s", text);
	else
		i_error("varnolt: %s", text);
}

void vd_log_info(struct mail_user *user, const char *text)
{
	if (user != NULL)
		e_info(user->event, "varnolt: %s", text);
	else
		i_info("varnolt: %s", text);
}
