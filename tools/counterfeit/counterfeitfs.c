/*
 * counterfeitfs: a FUSE file system that behaves like a counterfeit memory
 * stick, the test tool with which kiromenu.exe's read-back of every volume
 * is proven. It reports a capacity (--size) but stores only --real bytes:
 * like the stick's controller, it maps every byte beyond them around to
 * the start, so a file written past that point overwrites earlier bytes,
 * its own or another file's, while names, lengths and free space look
 * right. Only reading the bytes back shows it.
 *
 * Everything lives in memory and is gone when the file system is
 * unmounted. Files take 4 KiB allocation units of the reported capacity,
 * the lowest free one first (as FAT does); unit u lies at byte
 * (u * 4096) mod real of the store. Names and lengths are kept apart from
 * the store and are never overwritten.
 *
 * Every read comes from the store itself: the mount is made with direct
 * I/O, so the kernel keeps no copy of what was written that a read could
 * be answered from (under Wine, a program cannot read past the system's
 * cache; see the design record).
 *
 *   counterfeitfs MOUNTPOINT --size=BYTES --real=BYTES [FUSE options]
 */
#define FUSE_USE_VERSION 31
#define _GNU_SOURCE

#include <fuse.h>

#include <errno.h>
#include <limits.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

enum { UNIT = 4096, MAX_NODES = 512 };

static struct {
    unsigned long long size;
    unsigned long long real;
} options;

/* A file or folder: its full path below the root ("/" for the root). */
struct node {
    char path[PATH_MAX];
    mode_t mode;
    size_t size;
    uint32_t *units;        /* allocation units of a file, in order */
    size_t unit_count;
    struct timespec mtime;
    int used;
};

static struct node nodes[MAX_NODES];
static unsigned char *store;          /* the bytes the stick really keeps */
static unsigned char *unit_taken;     /* one per unit of the reported size */
static size_t unit_total;

static struct node *find(const char *path)
{
    for (int i = 0; i < MAX_NODES; i++)
        if (nodes[i].used && strcmp(nodes[i].path, path) == 0)
            return &nodes[i];
    return NULL;
}

static struct node *add(const char *path, mode_t mode)
{
    if (strlen(path) >= PATH_MAX)
        return NULL;
    for (int i = 0; i < MAX_NODES; i++) {
        if (!nodes[i].used) {
            memset(&nodes[i], 0, sizeof nodes[i]);
            nodes[i].used = 1;
            strcpy(nodes[i].path, path);
            nodes[i].mode = mode;
            clock_gettime(CLOCK_REALTIME, &nodes[i].mtime);
            return &nodes[i];
        }
    }
    return NULL;
}

/* The folder part of path ("/a/b" -> "/a", "/a" -> "/"). */
static void parent_of(const char *path, char *out)
{
    strcpy(out, path);
    char *slash = strrchr(out, '/');
    if (slash == out)
        out[1] = '\0';
    else if (slash)
        *slash = '\0';
}

static int parent_is_folder(const char *path)
{
    char parent[PATH_MAX];
    parent_of(path, parent);
    struct node *p = find(parent);
    return p && S_ISDIR(p->mode);
}

/* Grows or shrinks a file's units to hold size bytes; -ENOSPC when the
   reported capacity is full. */
static int fit_units(struct node *n, size_t size)
{
    size_t wanted = (size + UNIT - 1) / UNIT;
    while (n->unit_count > wanted)
        unit_taken[n->units[--n->unit_count]] = 0;
    if (n->unit_count == wanted)
        return 0;
    uint32_t *units = realloc(n->units, wanted * sizeof *units);
    if (!units)
        return -ENOMEM;
    n->units = units;
    size_t next = 0;
    while (n->unit_count < wanted) {
        while (next < unit_total && unit_taken[next])
            next++;
        if (next == unit_total)
            return -ENOSPC;
        unit_taken[next] = 1;
        /* Fresh units read as zeros, wherever they land in the store. */
        memset(store + (next * (unsigned long long)UNIT) % options.real, 0, UNIT);
        n->units[n->unit_count++] = (uint32_t)next;
    }
    return 0;
}

/* Where byte offset of a file lies in the store. */
static unsigned char *byte_at(const struct node *n, size_t offset)
{
    unsigned long long unit = n->units[offset / UNIT];
    return store + (unit * UNIT) % options.real + offset % UNIT;
}

static void drop(struct node *n)
{
    fit_units(n, 0);
    free(n->units);
    n->used = 0;
}

/* ------------------------------------------------------------------ */

static void *cf_init(struct fuse_conn_info *conn, struct fuse_config *cfg)
{
    (void)conn;
    cfg->direct_io = 1;
    cfg->entry_timeout = 0;
    cfg->attr_timeout = 0;
    cfg->negative_timeout = 0;
    cfg->hard_remove = 1;
    return NULL;
}

static int cf_getattr(const char *path, struct stat *st, struct fuse_file_info *fi)
{
    (void)fi;
    struct node *n = find(path);
    if (!n)
        return -ENOENT;
    memset(st, 0, sizeof *st);
    st->st_mode = n->mode;
    st->st_nlink = S_ISDIR(n->mode) ? 2 : 1;
    st->st_size = (off_t)n->size;
    st->st_blocks = (blkcnt_t)(n->unit_count * (UNIT / 512));
    st->st_blksize = UNIT;
    st->st_uid = getuid();
    st->st_gid = getgid();
    st->st_mtim = st->st_ctim = st->st_atim = n->mtime;
    return 0;
}

static int cf_readdir(const char *path, void *buf, fuse_fill_dir_t fill, off_t offset, struct fuse_file_info *fi,
                      enum fuse_readdir_flags flags)
{
    (void)offset; (void)fi; (void)flags;
    struct node *dir = find(path);
    if (!dir || !S_ISDIR(dir->mode))
        return -ENOTDIR;
    fill(buf, ".", NULL, 0, 0);
    fill(buf, "..", NULL, 0, 0);
    for (int i = 0; i < MAX_NODES; i++) {
        char parent[PATH_MAX];
        if (!nodes[i].used || strcmp(nodes[i].path, "/") == 0)
            continue;
        parent_of(nodes[i].path, parent);
        if (strcmp(parent, path) == 0)
            fill(buf, strrchr(nodes[i].path, '/') + 1, NULL, 0, 0);
    }
    return 0;
}

static int cf_mkdir(const char *path, mode_t mode)
{
    if (find(path))
        return -EEXIST;
    if (!parent_is_folder(path))
        return -ENOENT;
    return add(path, S_IFDIR | (mode & 07777)) ? 0 : -ENOSPC;
}

static int cf_create(const char *path, mode_t mode, struct fuse_file_info *fi)
{
    (void)fi;
    struct node *n = find(path);
    if (n)
        return S_ISDIR(n->mode) ? -EISDIR : 0;
    if (!parent_is_folder(path))
        return -ENOENT;
    return add(path, S_IFREG | (mode & 07777)) ? 0 : -ENOSPC;
}

static int cf_open(const char *path, struct fuse_file_info *fi)
{
    struct node *n = find(path);
    if (!n)
        return -ENOENT;
    if (fi->flags & O_TRUNC) {
        fit_units(n, 0);
        n->size = 0;
    }
    return 0;
}

static int cf_read(const char *path, char *buf, size_t size, off_t offset, struct fuse_file_info *fi)
{
    (void)fi;
    struct node *n = find(path);
    if (!n)
        return -ENOENT;
    if ((size_t)offset >= n->size)
        return 0;
    if (size > n->size - (size_t)offset)
        size = n->size - (size_t)offset;
    for (size_t k = 0; k < size;) {
        size_t at = (size_t)offset + k, piece = UNIT - at % UNIT;
        if (piece > size - k)
            piece = size - k;
        memcpy(buf + k, byte_at(n, at), piece);
        k += piece;
    }
    return (int)size;
}

static int cf_write(const char *path, const char *buf, size_t size, off_t offset, struct fuse_file_info *fi)
{
    (void)fi;
    struct node *n = find(path);
    if (!n)
        return -ENOENT;
    size_t end = (size_t)offset + size;
    if (end > n->size) {
        int r = fit_units(n, end);
        if (r)
            return r;
        n->size = end;
    }
    for (size_t k = 0; k < size;) {
        size_t at = (size_t)offset + k, piece = UNIT - at % UNIT;
        if (piece > size - k)
            piece = size - k;
        memcpy(byte_at(n, at), buf + k, piece);
        k += piece;
    }
    clock_gettime(CLOCK_REALTIME, &n->mtime);
    return (int)size;
}

static int cf_truncate(const char *path, off_t size, struct fuse_file_info *fi)
{
    (void)fi;
    struct node *n = find(path);
    if (!n)
        return -ENOENT;
    size_t old = n->size;
    int r = fit_units(n, (size_t)size);
    if (r)
        return r;
    /* Bytes the file gains read as zeros. */
    for (size_t at = old; at < (size_t)size; at++)
        *byte_at(n, at) = 0;
    n->size = (size_t)size;
    clock_gettime(CLOCK_REALTIME, &n->mtime);
    return 0;
}

static int cf_unlink(const char *path)
{
    struct node *n = find(path);
    if (!n)
        return -ENOENT;
    if (S_ISDIR(n->mode))
        return -EISDIR;
    drop(n);
    return 0;
}

static int cf_rmdir(const char *path)
{
    struct node *n = find(path);
    if (!n)
        return -ENOENT;
    size_t len = strlen(path);
    for (int i = 0; i < MAX_NODES; i++)
        if (nodes[i].used && strncmp(nodes[i].path, path, len) == 0 && nodes[i].path[len] == '/')
            return -ENOTEMPTY;
    n->used = 0;
    return 0;
}

static int cf_rename(const char *from, const char *to, unsigned int flags)
{
    struct node *n = find(from);
    if (!n)
        return -ENOENT;
    if (!parent_is_folder(to))
        return -ENOENT;
    struct node *old = find(to);
    if (old && old != n) {
        if (flags & RENAME_NOREPLACE)
            return -EEXIST;
        if (S_ISDIR(old->mode))
            return -EISDIR;
        drop(old);
    }
    size_t len = strlen(from);
    for (int i = 0; i < MAX_NODES; i++) {
        struct node *c = &nodes[i];
        if (c->used && c != n && strncmp(c->path, from, len) == 0 && c->path[len] == '/') {
            char moved[PATH_MAX];
            if (snprintf(moved, sizeof moved, "%s%s", to, c->path + len) >= (int)sizeof moved)
                return -ENAMETOOLONG;
            strcpy(c->path, moved);
        }
    }
    strcpy(n->path, to);
    return 0;
}

static int cf_utimens(const char *path, const struct timespec tv[2], struct fuse_file_info *fi)
{
    (void)fi;
    struct node *n = find(path);
    if (!n)
        return -ENOENT;
    if (tv && tv[1].tv_nsec != UTIME_OMIT) {
        if (tv[1].tv_nsec == UTIME_NOW)
            clock_gettime(CLOCK_REALTIME, &n->mtime);
        else
            n->mtime = tv[1];
    }
    return 0;
}

static int cf_chmod(const char *path, mode_t mode, struct fuse_file_info *fi)
{
    (void)fi;
    struct node *n = find(path);
    if (!n)
        return -ENOENT;
    n->mode = (n->mode & S_IFMT) | (mode & 07777);
    return 0;
}

static int cf_fsync(const char *path, int datasync, struct fuse_file_info *fi)
{
    (void)path; (void)datasync; (void)fi;
    return 0;   /* nothing is held back: the store is the stick */
}

static int cf_statfs(const char *path, struct statvfs *sv)
{
    (void)path;
    size_t taken = 0;
    for (size_t u = 0; u < unit_total; u++)
        taken += unit_taken[u];
    memset(sv, 0, sizeof *sv);
    sv->f_bsize = sv->f_frsize = UNIT;
    sv->f_blocks = unit_total;
    sv->f_bfree = sv->f_bavail = unit_total - taken;
    sv->f_files = MAX_NODES;
    sv->f_namemax = 255;
    return 0;
}

static const struct fuse_operations operations = {
    .init = cf_init,
    .getattr = cf_getattr,
    .readdir = cf_readdir,
    .mkdir = cf_mkdir,
    .create = cf_create,
    .open = cf_open,
    .read = cf_read,
    .write = cf_write,
    .truncate = cf_truncate,
    .unlink = cf_unlink,
    .rmdir = cf_rmdir,
    .rename = cf_rename,
    .utimens = cf_utimens,
    .chmod = cf_chmod,
    .fsync = cf_fsync,
    .statfs = cf_statfs,
};

#define OPTION(t, p) { t, offsetof(typeof(options), p), 1 }
static const struct fuse_opt option_spec[] = {
    OPTION("--size=%llu", size),
    OPTION("--real=%llu", real),
    FUSE_OPT_END
};

int main(int argc, char *argv[])
{
    struct fuse_args args = FUSE_ARGS_INIT(argc, argv);
    if (fuse_opt_parse(&args, &options, option_spec, NULL) != 0)
        return 2;
    options.real -= options.real % UNIT;
    if (options.size < UNIT || options.real < UNIT || options.real > options.size) {
        fprintf(stderr, "usage: counterfeitfs MOUNTPOINT --size=BYTES --real=BYTES [FUSE options]\n"
                        "       (4096 <= real <= size)\n");
        return 2;
    }
    unit_total = options.size / UNIT;
    store = calloc(1, options.real);
    unit_taken = calloc(1, unit_total);
    if (!store || !unit_taken || !add("/", S_IFDIR | 0777)) {
        fprintf(stderr, "counterfeitfs: out of memory\n");
        return 2;
    }
    /* One thread: the operations share the tables without locks. */
    fuse_opt_add_arg(&args, "-s");
    fuse_opt_add_arg(&args, "-ofsname=counterfeitfs,subtype=counterfeitfs");
    int status = fuse_main(args.argc, args.argv, &operations, NULL);
    fuse_opt_free_args(&args);
    return status;
}
