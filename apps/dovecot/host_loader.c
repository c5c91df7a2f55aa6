#define _GNU_SOURCE 1 /* dladdr */
#include "lib.h"
#include "host_loader.h"

#include <dlfcn.h>
#include <libgen.h>

static struct varnolt_host host;
static bool host_loaded;

/* The folder of the plugin's own file. */
static const char *plugin_folder(void)
{
	Dl_info info;
	void *self = (void *)&plugin_folder;
	if (dladdr(self, &info) == 0 || info.dli_fname == NULL)
		return NULL;
	return t_strdup(dirname(t_strdup_noconst(info.dli_fname)));
}

/* Copies a function's address: ISO C has no cast from an object pointer. */
static bool find(void *handle, const char *name, void *function_r, size_t size)
{
	void *symbol = dlsym(handle, name);
	if (symbol == NULL)
		return FALSE;
	memcpy(function_r, &symbol, size);
	return TRUE;
}

const struct varnolt_host *varnolt_host_load(const char **error_r)
{
	if (host_loaded)
		return &host;
	const char *folder = plugin_folder();
	if (folder == NULL) {
		*error_r = "cannot find the plugin's own folder";
		return NULL;
	}
	const char *path = t_strconcat(folder, "/", VARNOLT_HOST_LIBRARY, NULL);
	/* Local: the filter's symbols never meet another plugin's. It finds the
	   plugin's vd_* functions, which Dovecot loaded for everyone. */
	void *handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
	if (handle == NULL) {
		*error_r = t_strdup_printf("cannot load %s: %s", path, dlerror());
		return NULL;
	}
	if (!find(handle, "varnolt_judge_delivery", &host.judge_delivery, sizeof(host.judge_delivery)) ||
	    !find(handle, "varnolt_stamp_message", &host.stamp_message, sizeof(host.stamp_message)) ||
	    !find(handle, "varnolt_stamped_length", &host.stamped_length, sizeof(host.stamped_length)) ||
	    !find(handle, "varnolt_user_saved", &host.user_saved, sizeof(host.user_saved))) {
		*error_r = t_strdup_printf("%s lacks the plugin's entry points", path);
		dlclose(handle);
		return NULL;
	}
	/* Never closed: the filter's objects live until the process ends. */
	host_loaded = TRUE;
	return &host;
}
