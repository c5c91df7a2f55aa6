/* The plugin's entry points and its hooks into Dovecot: a delivery asks the
   filter before it is saved; a user's IMAP MOVE or APPEND raises the
   filter's event once its commit is done. Everything the filter does runs on
   the C++ side behind dovecot_bridge.h. */
#include "lib.h"
#include "array.h"
#include "buffer.h"
#include "istream.h"
#include "istream-concat.h"
#include "module-context.h"
#include "seq-range-array.h"
#include "mail-user.h"
#include "mail-storage-private.h"
#include "mail-storage-hooks.h"
#include "mail-copy.h"
#include "mail-deliver.h"
#include "dovecot_bridge.h"
#include "host_loader.h"

#include <dlfcn.h>

#define VARNOLT_USER_CONTEXT(obj) MODULE_CONTEXT(obj, varnolt_user_module)
#define VARNOLT_CONTEXT(obj) MODULE_CONTEXT_REQUIRE(obj, varnolt_storage_module)
#define VARNOLT_TRANSACTION_CONTEXT(obj) MODULE_CONTEXT(obj, varnolt_storage_module)

const char *varnolt_plugin_version = DOVECOT_ABI_VERSION;
void varnolt_plugin_init(struct module *module);
void varnolt_plugin_deinit(void);

struct varnolt_user {
	union mail_user_module_context module_ctx;
	const char *home;
	/* Only the IMAP server's saves are the user's own moves and appends,
	   and doveadm's when it moves on the user's behalf (copies_are_moves). */
	bool raise_events;
	/* doveadm moves by copying and expunging: with varnolt_user_moves = yes
	   (given as -o plugin/varnolt_user_moves=yes to that one run), its
	   copies are taken as the user's moves, so an administrator's release
	   relearns exactly as the user's MOVE would. */
	bool copies_are_moves;
	/* While a judged delivery is being saved: what its copy gets. */
	bool delivering;
	int32_t marker;
	const char *const *keywords;
	/* Above 0 while the filter runs: its own changes raise no events. */
	unsigned int filter_depth;
};

struct varnolt_mailbox {
	union mailbox_module_context module_ctx;
};

/* The kind of each save of a user's transaction, in save order, matched to the UIDs after the commit. */
struct varnolt_transaction {
	union mailbox_transaction_module_context module_ctx;
	ARRAY(int) saves;
};

static MODULE_CONTEXT_DEFINE_INIT(varnolt_user_module, &mail_user_module_register);
static MODULE_CONTEXT_DEFINE_INIT(varnolt_storage_module, &mail_storage_module_register);

/* The delivery hooks live in libdovecot-lda, which only the delivering
   programs load: looked up at run time so that IMAP can load the plugin too. */
typedef deliver_mail_func_t *hook_set_func_t(deliver_mail_func_t *new_hook);
typedef int deliver_save_func_t(struct mail_deliver_context *ctx, const char *mailbox, enum mail_flags flags,
				const char *const *keywords, struct mail_storage **storage_r);
static hook_set_func_t *hook_set;
static deliver_save_func_t *deliver_save;
static deliver_mail_func_t *next_deliver_mail;
static bool delivery_hooked;

static struct varnolt_user *user_of_box(struct mailbox *box)
{
	return VARNOLT_USER_CONTEXT(box->storage->user);
}

static void append_bytes(void *context, const char *data, size_t size)
{
	buffer_append((buffer_t *)context, data, size);
}

/* Reads the rest of the stream into the buffer; -1 on a read error. */
static int read_all(struct istream *input, buffer_t *into)
{
	const unsigned char *data;
	size_t size;
	while (i_stream_read_more(input, &data, &size) > 0) {
		buffer_append(into, data, size);
		i_stream_skip(input, size);
	}
	return input->stream_errno == 0 ? 0 : -1;
}

/* ---- Delivery ---- */

/* Beyond this size (varnolt_max_message_size, in bytes) a delivery is stored
   without a verdict: the filter reads a message whole, so the delivering
   process would hold that much. 150 MB is more than common mail services
   accept. */
#define VARNOLT_DEFAULT_MAX_MESSAGE_SIZE ((uoff_t)150 * 1000 * 1000)

static uoff_t max_message_size(struct mail_user *user)
{
	const char *value = mail_user_plugin_getenv(user, "varnolt_max_message_size");
	uoff_t size;
	if (value == NULL || *value == '\0')
		return VARNOLT_DEFAULT_MAX_MESSAGE_SIZE;
	if (str_to_uoff(value, &size) < 0) {
		vd_log_error(user, t_strdup_printf("varnolt_max_message_size is no number of bytes: %s", value));
		return VARNOLT_DEFAULT_MAX_MESSAGE_SIZE;
	}
	return size;
}

static int save_default(struct mail_deliver_context *ctx, struct mail_storage **storage_r)
{
	return deliver_save(ctx, ctx->rcpt_default_mailbox, 0, NULL, storage_r) < 0 ? -1 : 1;
}

static int save_judged(struct mail_deliver_context *ctx, const struct varnolt_verdict *verdict,
		       struct mail_storage **storage_r)
{
	if (verdict->mailbox != NULL && strcmp(verdict->mailbox, ctx->rcpt_default_mailbox) != 0) {
		if (deliver_save(ctx, verdict->mailbox, 0, NULL, storage_r) == 0)
			return 1;
		/* The filter's folder failed: the message still goes where it was meant to. */
		vd_log_error(ctx->rcpt_user, t_strdup_printf("saving into %s failed, delivering to %s",
							     verdict->mailbox, ctx->rcpt_default_mailbox));
		return save_default(ctx, storage_r);
	}
	int ret = 0;
	if (next_deliver_mail != NULL)
		ret = next_deliver_mail(ctx, storage_r);
	/* Where the next hook saved nothing, the default save happens here, while
	   the marker is still pending, and not after this hook returns. */
	if (ret <= 0 && !ctx->saved_mail && !ctx->tried_default_save)
		ret = save_default(ctx, storage_r);
	return ret;
}

static int varnolt_deliver_mail(struct mail_deliver_context *ctx, struct mail_storage **storage_r)
{
	struct varnolt_user *vuser = VARNOLT_USER_CONTEXT(ctx->rcpt_user);
	if (vuser == NULL)
		return next_deliver_mail == NULL ? 0 : next_deliver_mail(ctx, storage_r);

	struct varnolt_verdict verdict;
	i_zero(&verdict);
	struct istream *input;
	const char *error;
	const struct varnolt_host *host = varnolt_host_load(&error);
	buffer_t *content = buffer_create_dynamic(default_pool, 64 * 1024);
	uoff_t size, limit = max_message_size(ctx->rcpt_user);
	if (host == NULL) {
		vd_log_error(ctx->rcpt_user, t_strconcat("the message is delivered unfiltered: ", error, NULL));
	} else if (mail_get_physical_size(ctx->src_mail, &size) == 0 && size > limit) {
		e_warning(ctx->rcpt_user->event,
			  "varnolt: the message is delivered without a verdict: its %" PRIuUOFF_T
			  " bytes are beyond varnolt_max_message_size (%" PRIuUOFF_T ")", size, limit);
	} else if (mail_get_stream(ctx->src_mail, NULL, NULL, &input) < 0 || read_all(input, content) < 0) {
		vd_log_error(ctx->rcpt_user, "cannot read the delivered message: it is delivered unfiltered");
	} else {
		vuser->filter_depth++;
		if (host->judge_delivery(ctx->rcpt_user, vuser->home, (const char *)content->data, content->used,
					 ctx->rcpt_default_mailbox, &verdict) < 0)
			i_zero(&verdict);
		vuser->filter_depth--;
	}
	buffer_free(&content);

	vuser->delivering = TRUE;
	vuser->marker = verdict.marker;
	vuser->keywords = verdict.keywords;
	int ret = save_judged(ctx, &verdict, storage_r);
	vuser->delivering = FALSE;
	vuser->keywords = NULL;
	return ret;
}

/* ---- Saving: the stamp of a delivered message ---- */

/* Adds the names to the keywords the save already has. */
static void add_keywords(struct mail_save_context *ctx, const char *const *names)
{
	struct mailbox *box = ctx->transaction->box;
	if (names == NULL || names[0] == NULL)
		return;
	struct mail_keywords *ours = mailbox_keywords_create_valid(box, names);
	struct mail_keywords *had = ctx->data.keywords;
	if (had == NULL) {
		ctx->data.keywords = ours;
		return;
	}
	ARRAY_TYPE(keyword_indexes) all;
	t_array_init(&all, had->count + ours->count);
	array_append(&all, had->idx, had->count);
	for (unsigned int i = 0; i < ours->count; i++) {
		bool known = FALSE;
		for (unsigned int j = 0; j < had->count; j++)
			known = known || had->idx[j] == ours->idx[i];
		if (!known)
			array_push_back(&all, &ours->idx[i]);
	}
	ctx->data.keywords = mailbox_keywords_create_from_indexes(box, &all);
	mailbox_keywords_unref(&had);
	mailbox_keywords_unref(&ours);
}

/* How much is read at once while looking for the end of the header section. */
#define STAMP_READ_SIZE (64 * 1024)

/* The delivered message as it is stored, stamped. Only its start, up to the
   end of the header section, is read and stamped here; the rest streams from
   the input as the save reads it, so that a large message is not held in
   memory again (one without a complete header section is read whole). NULL
   after a read error. */
static struct istream *stamped_stream(const struct varnolt_host *host, struct istream *input, int32_t marker)
{
	buffer_t *head = buffer_create_dynamic(default_pool, STAMP_READ_SIZE);
	const unsigned char *data;
	size_t size;
	size_t split = 0;
	/* Looked for each time the part read has doubled: linear in a long header. */
	size_t next_look = 0;
	while (split == 0 && i_stream_read_limited(input, &data, &size, STAMP_READ_SIZE) > 0) {
		buffer_append(head, data, size);
		i_stream_skip(input, size);
		if (head->used >= next_look) {
			split = host->stamped_length((const char *)head->data, head->used);
			next_look = head->used * 2;
		}
	}
	if (input->stream_errno != 0) {
		buffer_free(&head);
		return NULL;
	}
	if (split == 0)
		split = head->used; /* all of it is header, or lines end in a lone CR */
	buffer_t *start = buffer_create_dynamic(default_pool, head->used + 64);
	host->stamp_message((const char *)head->data, split, marker, append_bytes, start);
	buffer_append(start, CONST_PTR_OFFSET(head->data, split), head->used - split);
	buffer_free(&head);

	struct istream *parts[3];
	parts[0] = i_stream_create_copy_from_data(start->data, start->used);
	buffer_free(&start);
	/* The rest from where the reading stopped (the stream's offset 0 is that point). */
	parts[1] = i_stream_create_limit(input, UOFF_T_MAX);
	parts[2] = NULL;
	struct istream *stamped = i_stream_create_concat(parts);
	i_stream_unref(&parts[0]);
	i_stream_unref(&parts[1]);
	return stamped;
}

static int varnolt_save_begin(struct mail_save_context *ctx, struct istream *input)
{
	struct mailbox *box = ctx->transaction->box;
	struct varnolt_mailbox *vbox = VARNOLT_CONTEXT(box);
	struct varnolt_user *vuser = user_of_box(box);
	const char *error;
	const struct varnolt_host *host = NULL;
	if (vuser->delivering && (ctx->transaction->flags & MAILBOX_TRANSACTION_FLAG_EXTERNAL) != 0)
		host = varnolt_host_load(&error);
	/* Without the filter's library (its failure is logged already) the message is stored as it came. */
	if (host == NULL)
		return vbox->module_ctx.super.save_begin(ctx, input);

	struct istream *stamped = stamped_stream(host, input, vuser->marker);
	if (stamped == NULL) {
		mail_storage_set_critical(box->storage, "varnolt: reading the delivered message failed: %s",
					  i_stream_get_error(input));
		return -1;
	}
	add_keywords(ctx, vuser->keywords);
	int ret = vbox->module_ctx.super.save_begin(ctx, stamped);
	i_stream_unref(&stamped);
	return ret;
}

/* ---- The user's saves: MOVE and APPEND ---- */

static void note_save(struct mailbox_transaction_context *t, int kind)
{
	struct varnolt_transaction *vt = VARNOLT_TRANSACTION_CONTEXT(t);
	if (vt != NULL)
		array_push_back(&vt->saves, &kind);
}

static int varnolt_copy(struct mail_save_context *ctx, struct mail *mail)
{
	struct mailbox_transaction_context *t = ctx->transaction;
	struct varnolt_mailbox *vbox = VARNOLT_CONTEXT(t->box);
	struct varnolt_user *vuser = user_of_box(t->box);
	bool moving = ctx->moving;
	bool saving = ctx->saving;
	int ret;

	/* A delivery to a further recipient copies the first one's message,
	   which must pass through save_begin to get this user's stamp. */
	if (vuser->delivering)
		ret = mail_storage_copy(ctx, mail);
	else
		ret = vbox->module_ctx.super.copy(ctx, mail);
	if (ret == 0 && !saving)
		note_save(t, moving || vuser->copies_are_moves ? VARNOLT_SAVE_MOVE : VARNOLT_SAVE_COPY);
	return ret;
}

static int varnolt_save_finish(struct mail_save_context *ctx)
{
	struct mailbox_transaction_context *t = ctx->transaction;
	struct varnolt_mailbox *vbox = VARNOLT_CONTEXT(t->box);
	/* A copy made by saving is counted by varnolt_copy. */
	bool appending = !ctx->copying_or_moving;
	int ret = vbox->module_ctx.super.save_finish(ctx);
	if (ret == 0 && appending)
		note_save(t, VARNOLT_SAVE_APPEND);
	return ret;
}

static struct mailbox_transaction_context *
varnolt_transaction_begin(struct mailbox *box, enum mailbox_transaction_flags flags, const char *reason)
{
	struct varnolt_mailbox *vbox = VARNOLT_CONTEXT(box);
	struct varnolt_user *vuser = user_of_box(box);
	struct mailbox_transaction_context *t = vbox->module_ctx.super.transaction_begin(box, flags, reason);
	if (vuser->raise_events && vuser->filter_depth == 0 && (flags & MAILBOX_TRANSACTION_FLAG_EXTERNAL) != 0) {
		struct varnolt_transaction *vt = i_new(struct varnolt_transaction, 1);
		i_array_init(&vt->saves, 4);
		MODULE_CONTEXT_SET(t, varnolt_storage_module, vt);
	}
	return t;
}

static void transaction_free(struct varnolt_transaction *vt)
{
	array_free(&vt->saves);
	i_free(vt);
}

static void raise_events(struct mailbox *box, struct varnolt_transaction *vt,
			 const struct mail_transaction_commit_changes *changes)
{
	struct mail_user *user = box->storage->user;
	struct varnolt_user *vuser = VARNOLT_USER_CONTEXT(user);
	unsigned int count = array_count(&vt->saves);
	if (seq_range_count(&changes->saved_uids) != count) {
		vd_log_error(user, t_strdup_printf("%s: the store reported %u new messages for %u saves; "
						   "the filter is not told of them",
						   mailbox_get_vname(box), seq_range_count(&changes->saved_uids), count));
		return;
	}
	const int *kinds = array_front(&vt->saves);
	bool any_event = FALSE;
	for (unsigned int n = 0; n < count; n++)
		any_event = any_event || kinds[n] != VARNOLT_SAVE_COPY;
	if (!any_event)
		return; /* plain copies: the filter need not even be loaded */
	const char *error;
	const struct varnolt_host *host = varnolt_host_load(&error);
	if (host == NULL) {
		vd_log_error(user, t_strdup_printf("the filter was not told of the saves in %s: %s",
						   mailbox_get_vname(box), error));
		return;
	}
	struct seq_range_iter iter;
	seq_range_array_iter_init(&iter, &changes->saved_uids);
	uint32_t uid;
	vuser->filter_depth++;
	for (unsigned int n = 0; seq_range_array_iter_nth(&iter, n, &uid); n++) {
		if (kinds[n] != VARNOLT_SAVE_COPY)
			host->user_saved(user, vuser->home, mailbox_get_vname(box), uid, kinds[n]);
	}
	vuser->filter_depth--;
}

static int varnolt_transaction_commit(struct mailbox_transaction_context *t,
				      struct mail_transaction_commit_changes *changes_r)
{
	struct mailbox *box = t->box;
	struct varnolt_mailbox *vbox = VARNOLT_CONTEXT(box);
	struct varnolt_transaction *vt = VARNOLT_TRANSACTION_CONTEXT(t);
	int ret = vbox->module_ctx.super.transaction_commit(t, changes_r);
	if (vt != NULL) {
		if (ret == 0 && array_count(&vt->saves) > 0)
			raise_events(box, vt, changes_r);
		transaction_free(vt);
	}
	return ret;
}

static void varnolt_transaction_rollback(struct mailbox_transaction_context *t)
{
	struct varnolt_mailbox *vbox = VARNOLT_CONTEXT(t->box);
	struct varnolt_transaction *vt = VARNOLT_TRANSACTION_CONTEXT(t);
	vbox->module_ctx.super.transaction_rollback(t);
	if (vt != NULL)
		transaction_free(vt);
}

/* ---- Hooks ---- */

static void varnolt_mail_user_created(struct mail_user *user)
{
	const char *home = mail_user_plugin_getenv(user, "varnolt_home");
	if (home == NULL || *home == '\0')
		return; /* the plugin is off for this user */
	struct varnolt_user *vuser = p_new(user->pool, struct varnolt_user, 1);
	vuser->home = p_strdup(user->pool, home);
	const char *user_moves = mail_user_plugin_getenv(user, "varnolt_user_moves");
	vuser->copies_are_moves = user->service != NULL && strcmp(user->service, "doveadm") == 0 &&
				  user_moves != NULL && strcmp(user_moves, "yes") == 0;
	vuser->raise_events =
		(user->service != NULL && strcmp(user->service, "imap") == 0) || vuser->copies_are_moves;
	MODULE_CONTEXT_SET(user, varnolt_user_module, vuser);
}

static void varnolt_mailbox_allocated(struct mailbox *box)
{
	if (user_of_box(box) == NULL)
		return;
	struct mailbox_vfuncs *v = box->vlast;
	struct varnolt_mailbox *vbox = p_new(box->pool, struct varnolt_mailbox, 1);
	vbox->module_ctx.super = *v;
	box->vlast = &vbox->module_ctx.super;
	v->save_begin = varnolt_save_begin;
	v->save_finish = varnolt_save_finish;
	v->copy = varnolt_copy;
	v->transaction_begin = varnolt_transaction_begin;
	v->transaction_commit = varnolt_transaction_commit;
	v->transaction_rollback = varnolt_transaction_rollback;
	MODULE_CONTEXT_SET(box, varnolt_storage_module, vbox);
}

static struct mail_storage_hooks varnolt_storage_hooks = {
	.mail_user_created = varnolt_mail_user_created,
	.mailbox_allocated = varnolt_mailbox_allocated,
};

void varnolt_plugin_init(struct module *module)
{
	mail_storage_hooks_add(module, &varnolt_storage_hooks);
	/* Function pointers from dlsym: copied, as ISO C has no cast for it. */
	void *set_symbol = dlsym(RTLD_DEFAULT, "mail_deliver_hook_set");
	void *save_symbol = dlsym(RTLD_DEFAULT, "mail_deliver_save");
	if (set_symbol != NULL && save_symbol != NULL) {
		memcpy(&hook_set, &set_symbol, sizeof(hook_set));
		memcpy(&deliver_save, &save_symbol, sizeof(deliver_save));
		next_deliver_mail = hook_set(varnolt_deliver_mail);
		delivery_hooked = TRUE;
	}
}

void varnolt_plugin_deinit(void)
{
	if (delivery_hooked)
		hook_set(next_deliver_mail);
	mail_storage_hooks_remove(&varnolt_storage_hooks);
}
