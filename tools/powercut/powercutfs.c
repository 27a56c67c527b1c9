/*
 * powercutfs: a FUSE file system over a backing folder that forgets, when
 * the power is cut, everything that was not flushed: written bytes and the
 * changes of folders alike. It is the test tool with which the moves and
 * the settings writers of kiromenu.exe are cut off at every step.
 *
 * Written bytes stay in memory, per file, until that file is flushed
 * (fsync or fdatasync, which is what FlushFileBuffers becomes under Wine);
 * reads see them, as they see a system's page cache. Closing a file
 * flushes nothing.
 *
 * The names in a folder are the folder's content: creating a file, a
 * folder or a link, renaming and deleting are done at once, so the
 * programs see them, but stay pending until the folder itself is flushed
 * (fsync of the folder, which is what FlushFileBuffers of a folder handle
 * becomes). Flushing a file does not commit its name, as POSIX leaves it:
 * a program that needs a new name or a rename to survive flushes the
 * folder. A rename between two folders is one change of both: the first
 * flush of either commits it. Committing keeps the order of each folder:
 * a flush commits every pending change of the folder and, first, every
 * earlier change of the other folders those changes touched; a folder
 * removed or renamed for good takes the earlier changes inside it along.
 * A folder whose creation is lost takes what it held with it. What is
 * deleted or replaced meanwhile is kept aside (in a folder of its own
 * beside the backing folder, BACKING.pending-XXXXXX) until the deletion
 * is committed, so that the cut can bring it back.
 *
 * Unmounted with the power on, a mount commits the changes of its folders
 * (a clean shut-down); bytes never flushed are lost all the same.
 *
 * Size changes (truncating), times and modes reach the backing folder at
 * once: a file truncated and written again but not flushed is empty after
 * the cut, the harshest realistic outcome.
 *
 * Several mounts of one campaign share a control file: one count of the
 * changing operations (writes, flushes, creations, truncations, renames,
 * deletions, time and mode changes) and one power switch. With
 * --cut-after=K the operation K+1, on whichever mount it comes, is not
 * done: the power goes out, every unflushed byte and every pending change
 * of every mount is lost, the latest first, and every further operation
 * fails with EIO. Each mount undoes its pending changes when it first
 * finds the power out, before it answers that operation, and at the
 * latest when it is unmounted: after a cut, one operation answered on
 * each mount (a stat of its root) means the backing folders hold what
 * survived. Mount them again to go on from there. A change that cannot
 * be undone is counted in the control file, so a campaign never judges a
 * state the file system failed to make. With --log every counted
 * operation is appended to a file as one line:
 *   <number> <tag> <operation> <path>[ <path>] [<offset> <length>]
 *
 *   powercutfs BACKING MOUNTPOINT --control=FILE [--cut-after=K]
 *              [--size=BYTES] [--tag=NAME] [--log=FILE] [--pid=FILE]
 *              [--folders-at-once] [FUSE options]
 *
 * --folders-at-once commits every change of a folder as it is made, as a
 * file system mounted with dirsync does: only unflushed bytes are lost.
 * --size makes the file system report that capacity, its free space being
 * the capacity less what its files take in 4 KiB units (a stick of that
 * size); without it the backing folder's own figures are reported.
 */
#define FUSE_USE_VERSION 31
#define _GNU_SOURCE

#include <fuse.h>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <limits.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <unistd.h>

/* ------------------------------------------------------------------ */
/* Options and the shared control file                                 */

struct control {
    char magic[8];
    int64_t operations;   /* changing operations so far, on every mount */
    int32_t cut;          /* 1 once the power is out */
    int32_t undo_failures;   /* pending changes a cut could not undo */
};

static const char CONTROL_MAGIC[8] = "PWRCUT1";

static struct {
    char *backing;
    char *control_file;
    char *log_file;
    char *pid_file;
    char *tag;
    long long cut_after;
    unsigned long long size;
    int folders_at_once;
} options = { NULL, NULL, NULL, NULL, NULL, -1, 0, 0 };

static struct control *control;
static int log_fd = -1;

static int open_control(const char *path)
{
    int fd = open(path, O_RDWR | O_CREAT, 0644);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || (st.st_size < (off_t)sizeof(struct control) && ftruncate(fd, 4096) != 0)) {
        close(fd);
        return -1;
    }
    control = mmap(NULL, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (control == MAP_FAILED)
        return -1;
    if (memcmp(control->magic, CONTROL_MAGIC, sizeof CONTROL_MAGIC) != 0)
        memcpy(control->magic, CONTROL_MAGIC, sizeof CONTROL_MAGIC);
    return 0;
}

static int power_is_out(void)
{
    return __atomic_load_n(&control->cut, __ATOMIC_SEQ_CST) != 0;
}

static void power_lost(void);

/* Every operation asks first: -EIO once the power is out. A changing
   operation is counted, and is the one that finds the power cut when the
   count passes the limit. */
static int begin(int counted, const char *what, const char *path, const char *path2,
                 long long offset, long long length)
{
    if (power_is_out()) {
        power_lost();
        return -EIO;
    }
    if (!counted)
        return 0;
    long long n = __atomic_add_fetch(&control->operations, 1, __ATOMIC_SEQ_CST);
    if (options.cut_after >= 0 && n > options.cut_after) {
        __atomic_store_n(&control->cut, 1, __ATOMIC_SEQ_CST);
        power_lost();
        return -EIO;
    }
    if (log_fd >= 0) {
        char line[3 * PATH_MAX];
        int len = snprintf(line, sizeof line, "%lld %s %s %s%s%s", n, options.tag ? options.tag : "-", what,
                           path, path2 ? " " : "", path2 ? path2 : "");
        if (len > 0 && len < (int)sizeof line && offset >= 0)
            len += snprintf(line + len, sizeof line - len, " %lld %lld", offset, length);
        if (len > 0 && len < (int)sizeof line - 1) {
            line[len++] = '\n';
            if (write(log_fd, line, len) < 0) {
                /* the log is a help, never a reason to fail */
            }
        }
    }
    return 0;
}

/* ------------------------------------------------------------------ */
/* Unflushed contents                                                  */

/* A file with writes not yet flushed: its whole content as the programs
   see it, kept in memory. The backing file holds what would survive. */
struct shadow {
    ino_t ino;
    size_t size;
    size_t capacity;
    unsigned char *data;
    struct shadow *next;
};

static struct shadow *shadows;

static struct shadow *find_shadow(ino_t ino)
{
    for (struct shadow *s = shadows; s; s = s->next)
        if (s->ino == ino)
            return s;
    return NULL;
}

static void drop_shadow(ino_t ino)
{
    for (struct shadow **p = &shadows; *p; p = &(*p)->next) {
        if ((*p)->ino == ino) {
            struct shadow *s = *p;
            *p = s->next;
            free(s->data);
            free(s);
            return;
        }
    }
}

static int reserve(struct shadow *s, size_t size)
{
    if (size <= s->capacity)
        return 0;
    size_t capacity = s->capacity ? s->capacity : 65536;
    while (capacity < size)
        capacity *= 2;
    unsigned char *data = realloc(s->data, capacity);
    if (!data)
        return -ENOMEM;
    memset(data + s->capacity, 0, capacity - s->capacity);
    s->data = data;
    s->capacity = capacity;
    return 0;
}

/* The shadow of the open file fd, made from the backing file's content
   at its first unflushed write. */
static struct shadow *shadow_of(int fd, int *error)
{
    struct stat st;
    if (fstat(fd, &st) != 0) {
        *error = -errno;
        return NULL;
    }
    struct shadow *s = find_shadow(st.st_ino);
    if (s)
        return s;
    s = calloc(1, sizeof *s);
    if (!s) {
        *error = -ENOMEM;
        return NULL;
    }
    s->ino = st.st_ino;
    if ((*error = reserve(s, (size_t)st.st_size + 1)) != 0) {
        free(s);
        return NULL;
    }
    size_t done = 0;
    while (done < (size_t)st.st_size) {
        ssize_t n = pread(fd, s->data + done, (size_t)st.st_size - done, (off_t)done);
        if (n <= 0) {
            *error = n < 0 ? -errno : -EIO;
            free(s->data);
            free(s);
            return NULL;
        }
        done += (size_t)n;
    }
    s->size = (size_t)st.st_size;
    s->next = shadows;
    shadows = s;
    return s;
}

/* A size change reaches the backing file at once; the unflushed content
   follows it (cut off, or extended by zeros). */
static int resize(int fd, const char *backing_path, off_t size)
{
    int r = fd >= 0 ? ftruncate(fd, size) : truncate(backing_path, size);
    if (r != 0)
        return -errno;
    struct stat st;
    if ((fd >= 0 ? fstat(fd, &st) : stat(backing_path, &st)) == 0) {
        struct shadow *s = find_shadow(st.st_ino);
        if (s) {
            if (reserve(s, (size_t)size) != 0)
                return -ENOMEM;
            if ((size_t)size > s->size)
                memset(s->data + s->size, 0, (size_t)size - s->size);
            s->size = (size_t)size;
        }
    }
    return 0;
}

/* The name is about to disappear: when it was the file's last name, its
   unflushed content goes with it. */
static void forget_if_last_name(const char *backing_path)
{
    struct stat st;
    if (lstat(backing_path, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink <= 1)
        drop_shadow(st.st_ino);
}

static void drop_all_shadows(void)
{
    while (shadows)
        drop_shadow(shadows->ino);
}

/* ------------------------------------------------------------------ */
/* Pending changes of folders                                          */

static void backing_path(char *out, const char *path)
{
    snprintf(out, PATH_MAX, "%s%s", options.backing, path);
}

enum change_kind {
    MADE,          /* a file, link or node made at path */
    MADE_FOLDER,   /* a folder made at path */
    REMOVED,       /* path deleted; kept aside */
    RENAMED        /* path renamed to path2; what path2 was, kept aside */
};

/* A change of one folder or two, done in the backing folder but not yet
   committed. */
struct change {
    enum change_kind kind;
    char *path, *path2;
    ino_t folder, folder2;   /* the folders changed (backing inodes, 0: none) */
    long kept;               /* the entry kept aside, 0 for none */
    int of_folder;           /* a folder removed or renamed */
};

static struct change *changes;   /* pending, oldest first */
static size_t change_count, change_capacity;
static char attic[PATH_MAX - 64]; /* where removed entries are kept aside */
static long attic_next;
static int lost_here;            /* this mount has undone its pending changes */

static void kept_path(char *out, long kept)
{
    snprintf(out, PATH_MAX, "%s/%ld", attic, kept);
}

static int remove_entry(const char *path, const struct stat *st, int type, struct FTW *ftw)
{
    (void)st; (void)type; (void)ftw;
    return remove(path) == 0 ? 0 : -1;
}

/* Removes a file or a whole folder of the backing folder. */
static int remove_tree(const char *path)
{
    struct stat st;
    if (lstat(path, &st) != 0)
        return errno == ENOENT ? 0 : -1;
    if (!S_ISDIR(st.st_mode))
        return unlink(path);
    return nftw(path, remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

static int is_empty_folder(const char *path)
{
    DIR *dir = opendir(path);
    if (!dir)
        return 0;
    int empty = 1;
    struct dirent *e;
    while (empty && (e = readdir(dir)) != NULL)
        empty = strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0;
    closedir(dir);
    return empty;
}

/* The backing inode of the folder that holds path (0 if none). */
static ino_t folder_of(const char *path)
{
    char b[PATH_MAX];
    backing_path(b, path);
    char *slash = strrchr(b, '/');
    if (!slash)
        return 0;
    if (slash == b)
        slash++;
    *slash = '\0';
    struct stat st;
    return lstat(b, &st) == 0 ? st.st_ino : 0;
}

/* Room for one more change, asked before the change is made. */
static int change_room(void)
{
    if (change_count < change_capacity)
        return 0;
    size_t capacity = change_capacity ? 2 * change_capacity : 64;
    struct change *more = realloc(changes, capacity * sizeof *more);
    if (!more)
        return -ENOMEM;
    changes = more;
    change_capacity = capacity;
    return 0;
}

static void commit_change(struct change *c);

/* Notes a change just made (change_room was asked first). */
static void note_change(enum change_kind kind, const char *path, const char *path2, long kept, int of_folder)
{
    struct change *c = &changes[change_count++];
    c->kind = kind;
    c->path = strdup(path);
    c->path2 = path2 ? strdup(path2) : NULL;
    c->folder = folder_of(path);
    c->folder2 = path2 ? folder_of(path2) : 0;
    c->kept = kept;
    c->of_folder = of_folder;
    if (options.folders_at_once)
        commit_change(&changes[--change_count]);
}

/* Moves the entry at backing path b aside; the number it is kept under. */
static long keep_aside(const char *b, int *error)
{
    long kept = ++attic_next;
    char k[PATH_MAX];
    kept_path(k, kept);
    if (rename(b, k) != 0) {
        *error = -errno;
        return 0;
    }
    return kept;
}

static void forget_change(struct change *c)
{
    free(c->path);
    free(c->path2);
}

/* A committed change: what it removed is gone for good. */
static void commit_change(struct change *c)
{
    if (c->kept) {
        char k[PATH_MAX];
        kept_path(k, c->kept);
        remove_tree(k);
    }
    forget_change(c);
}

/* A change undone in the backing folder, as if it had never been made. */
static void undo_change(struct change *c)
{
    char b[PATH_MAX], b2[PATH_MAX], k[PATH_MAX];
    backing_path(b, c->path);
    if (c->path2)
        backing_path(b2, c->path2);
    kept_path(k, c->kept);
    int ok;
    switch (c->kind) {
    case MADE:
        ok = unlink(b) == 0;
        break;
    case MADE_FOLDER:
        ok = remove_tree(b) == 0;
        break;
    case REMOVED:
        ok = rename(k, b) == 0;
        break;
    default:
        ok = rename(b2, b) == 0 && (!c->kept || rename(k, b2) == 0);
        break;
    }
    if (!ok)
        __atomic_add_fetch(&control->undo_failures, 1, __ATOMIC_SEQ_CST);
    forget_change(c);
}

static int under(const char *path, const char *folder)
{
    size_t n = strlen(folder);
    return path && strncmp(path, folder, n) == 0 && path[n] == '/';
}

/* Whether change c must be committed before a later one: it changed one
   of the folders, or lies inside a folder whose removal or rename is
   committed (a folder gone for good takes its changes with it). */
static int needed(const struct change *c, const ino_t *folders, size_t n, char *const *gone, size_t g)
{
    for (size_t i = 0; i < n; i++)
        if (folders[i] && (c->folder == folders[i] || c->folder2 == folders[i]))
            return 1;
    for (size_t i = 0; i < g; i++)
        if (under(c->path, gone[i]) || under(c->path2, gone[i]))
            return 1;
    return 0;
}

/* The flush of a folder: its pending changes are committed, and before
   them every earlier change of the other folders they touched (and so on),
   so no folder ever keeps a later change without an earlier one. */
static int commit_folder(ino_t folder)
{
    if (change_count == 0)
        return 0;
    ino_t *need = malloc((2 * change_count + 1) * sizeof *need);
    char **gone = malloc(2 * change_count * sizeof *gone);
    char *commit = calloc(change_count, 1);
    if (!need || !gone || !commit) {
        free(need);
        free(gone);
        free(commit);
        return -ENOMEM;
    }
    size_t n = 0, g = 0;
    need[n++] = folder;
    for (size_t i = change_count; i-- > 0;) {
        struct change *c = &changes[i];
        if (needed(c, need, n, gone, g)) {
            commit[i] = 1;
            need[n++] = c->folder;
            need[n++] = c->folder2;
            if (c->of_folder) {
                gone[g++] = c->path;
                if (c->path2)
                    gone[g++] = c->path2;
            }
        }
    }
    size_t left = 0;
    for (size_t i = 0; i < change_count; i++) {
        if (commit[i])
            commit_change(&changes[i]);
        else
            changes[left++] = changes[i];
    }
    change_count = left;
    free(need);
    free(gone);
    free(commit);
    return 0;
}

static void commit_all(void)
{
    for (size_t i = 0; i < change_count; i++)
        commit_change(&changes[i]);
    change_count = 0;
}

/* The power went out: unflushed bytes and pending changes are lost, the
   latest change undone first. */
static void power_lost(void)
{
    if (lost_here)
        return;
    lost_here = 1;
    drop_all_shadows();
    while (change_count > 0)
        undo_change(&changes[--change_count]);
}

/* ------------------------------------------------------------------ */
/* Operations                                                          */

#define BEGIN(counted, what, path, path2, offset, length)                      \
    do {                                                                        \
        int refused_ = begin(counted, what, path, path2, offset, length);       \
        if (refused_)                                                           \
            return refused_;                                                    \
    } while (0)

static void *pc_init(struct fuse_conn_info *conn, struct fuse_config *cfg)
{
    (void)conn;
    cfg->use_ino = 0;
    cfg->hard_remove = 1;
    /* Sizes and contents change under the kernel's feet only through us,
       but the kernel must never answer from a cache after the cut. */
    cfg->entry_timeout = 0;
    cfg->attr_timeout = 0;
    cfg->negative_timeout = 0;
    if (options.pid_file) {
        FILE *f = fopen(options.pid_file, "w");
        if (f) {
            fprintf(f, "%ld\n", (long)getpid());
            fclose(f);
        }
    }
    return NULL;
}

/* Unmounted: with the power out, what was pending is lost; with the power
   on, a clean shut-down commits it. */
static void pc_destroy(void *data)
{
    (void)data;
    if (power_is_out())
        power_lost();
    else
        commit_all();
    remove_tree(attic);
}

static int pc_getattr(const char *path, struct stat *st, struct fuse_file_info *fi)
{
    BEGIN(0, "getattr", path, NULL, -1, 0);
    char b[PATH_MAX];
    backing_path(b, path);
    int r = fi ? fstat((int)fi->fh, st) : lstat(b, st);
    if (r != 0)
        return -errno;
    struct shadow *s = S_ISREG(st->st_mode) ? find_shadow(st->st_ino) : NULL;
    if (s) {
        st->st_size = (off_t)s->size;
        st->st_blocks = (blkcnt_t)((s->size + 511) / 512);
    }
    return 0;
}

static int pc_access(const char *path, int mask)
{
    BEGIN(0, "access", path, NULL, -1, 0);
    char b[PATH_MAX];
    backing_path(b, path);
    return access(b, mask) == 0 ? 0 : -errno;
}

static int pc_readlink(const char *path, char *buf, size_t size)
{
    BEGIN(0, "readlink", path, NULL, -1, 0);
    char b[PATH_MAX];
    backing_path(b, path);
    ssize_t n = readlink(b, buf, size - 1);
    if (n < 0)
        return -errno;
    buf[n] = '\0';
    return 0;
}

static int pc_readdir(const char *path, void *buf, fuse_fill_dir_t fill, off_t offset,
                      struct fuse_file_info *fi, enum fuse_readdir_flags flags)
{
    (void)offset; (void)fi; (void)flags;
    BEGIN(0, "readdir", path, NULL, -1, 0);
    char b[PATH_MAX];
    backing_path(b, path);
    DIR *dir = opendir(b);
    if (!dir)
        return -errno;
    struct dirent *e;
    while ((e = readdir(dir)) != NULL) {
        struct stat st;
        memset(&st, 0, sizeof st);
        st.st_ino = e->d_ino;
        st.st_mode = (mode_t)(DTTOIF(e->d_type));
        if (fill(buf, e->d_name, &st, 0, 0))
            break;
    }
    closedir(dir);
    return 0;
}

#define ROOM_FOR_CHANGE()                     \
    do {                                      \
        int full_ = change_room();            \
        if (full_)                            \
            return full_;                     \
    } while (0)

static int pc_mknod(const char *path, mode_t mode, dev_t rdev)
{
    BEGIN(1, "mknod", path, NULL, -1, 0);
    ROOM_FOR_CHANGE();
    char b[PATH_MAX];
    backing_path(b, path);
    int r = S_ISREG(mode) ? open(b, O_CREAT | O_EXCL | O_WRONLY, mode) : mknod(b, mode, rdev);
    if (r < 0)
        return -errno;
    if (S_ISREG(mode))
        close(r);
    note_change(MADE, path, NULL, 0, 0);
    return 0;
}

static int pc_mkdir(const char *path, mode_t mode)
{
    BEGIN(1, "mkdir", path, NULL, -1, 0);
    ROOM_FOR_CHANGE();
    char b[PATH_MAX];
    backing_path(b, path);
    if (mkdir(b, mode) != 0)
        return -errno;
    note_change(MADE_FOLDER, path, NULL, 0, 0);
    return 0;
}

/* A deletion moves the entry aside, where the cut can find it again. */
static int pc_unlink(const char *path)
{
    BEGIN(1, "unlink", path, NULL, -1, 0);
    ROOM_FOR_CHANGE();
    char b[PATH_MAX];
    backing_path(b, path);
    struct stat st;
    if (lstat(b, &st) != 0)
        return -errno;
    if (S_ISDIR(st.st_mode))
        return -EISDIR;
    forget_if_last_name(b);
    int error = 0;
    long kept = keep_aside(b, &error);
    if (!kept)
        return error;
    note_change(REMOVED, path, NULL, kept, 0);
    return 0;
}

static int pc_rmdir(const char *path)
{
    BEGIN(1, "rmdir", path, NULL, -1, 0);
    ROOM_FOR_CHANGE();
    char b[PATH_MAX];
    backing_path(b, path);
    struct stat st;
    if (lstat(b, &st) != 0)
        return -errno;
    if (!S_ISDIR(st.st_mode))
        return -ENOTDIR;
    if (!is_empty_folder(b))
        return -ENOTEMPTY;
    int error = 0;
    long kept = keep_aside(b, &error);
    if (!kept)
        return error;
    note_change(REMOVED, path, NULL, kept, 1);
    return 0;
}

static int pc_symlink(const char *target, const char *path)
{
    BEGIN(1, "symlink", path, target, -1, 0);
    ROOM_FOR_CHANGE();
    char b[PATH_MAX];
    backing_path(b, path);
    if (symlink(target, b) != 0)
        return -errno;
    note_change(MADE, path, NULL, 0, 0);
    return 0;
}

/* A rename that replaces an entry moves that entry aside first. */
static int pc_rename(const char *from, const char *to, unsigned int flags)
{
    BEGIN(1, "rename", from, to, -1, 0);
    if (flags & RENAME_EXCHANGE)
        return -EINVAL;
    ROOM_FOR_CHANGE();
    char bf[PATH_MAX], bt[PATH_MAX];
    backing_path(bf, from);
    backing_path(bt, to);
    struct stat source, target;
    if (lstat(bf, &source) != 0)
        return -errno;
    int exists = lstat(bt, &target) == 0;
    if (exists && target.st_ino == source.st_ino)
        return 0;   /* two names of one file: nothing changes */
    if (exists && (flags & RENAME_NOREPLACE))
        return -EEXIST;
    long kept = 0;
    if (exists) {
        if (S_ISDIR(target.st_mode) && !S_ISDIR(source.st_mode))
            return -EISDIR;
        if (!S_ISDIR(target.st_mode) && S_ISDIR(source.st_mode))
            return -ENOTDIR;
        if (S_ISDIR(target.st_mode) && !is_empty_folder(bt))
            return -ENOTEMPTY;
        if (S_ISREG(target.st_mode) && target.st_nlink <= 1)
            drop_shadow(target.st_ino);
        int error = 0;
        if (!(kept = keep_aside(bt, &error)))
            return error;
    }
    if (rename(bf, bt) != 0) {
        int error = -errno;
        char k[PATH_MAX];
        kept_path(k, kept);
        if (kept && rename(k, bt) != 0)
            __atomic_add_fetch(&control->undo_failures, 1, __ATOMIC_SEQ_CST);
        return error;
    }
    note_change(RENAMED, from, to, kept, S_ISDIR(source.st_mode));
    return 0;
}

static int pc_link(const char *from, const char *to)
{
    BEGIN(1, "link", from, to, -1, 0);
    ROOM_FOR_CHANGE();
    char bf[PATH_MAX], bt[PATH_MAX];
    backing_path(bf, from);
    backing_path(bt, to);
    if (link(bf, bt) != 0)
        return -errno;
    note_change(MADE, to, NULL, 0, 0);
    return 0;
}

static int pc_chmod(const char *path, mode_t mode, struct fuse_file_info *fi)
{
    BEGIN(1, "chmod", path, NULL, -1, 0);
    char b[PATH_MAX];
    backing_path(b, path);
    int r = fi ? fchmod((int)fi->fh, mode) : chmod(b, mode);
    return r == 0 ? 0 : -errno;
}

static int pc_chown(const char *path, uid_t uid, gid_t gid, struct fuse_file_info *fi)
{
    BEGIN(1, "chown", path, NULL, -1, 0);
    char b[PATH_MAX];
    backing_path(b, path);
    int r = fi ? fchown((int)fi->fh, uid, gid) : lchown(b, uid, gid);
    return r == 0 ? 0 : -errno;
}

static int pc_truncate(const char *path, off_t size, struct fuse_file_info *fi)
{
    BEGIN(1, "truncate", path, NULL, size, 0);
    char b[PATH_MAX];
    backing_path(b, path);
    return resize(fi ? (int)fi->fh : -1, b, size);
}

static int pc_utimens(const char *path, const struct timespec tv[2], struct fuse_file_info *fi)
{
    BEGIN(1, "utimens", path, NULL, -1, 0);
    char b[PATH_MAX];
    backing_path(b, path);
    int r = fi ? futimens((int)fi->fh, tv) : utimensat(AT_FDCWD, b, tv, AT_SYMLINK_NOFOLLOW);
    return r == 0 ? 0 : -errno;
}

/* Opening as such changes nothing; truncating on open is a size change. */
static int open_backing(const char *path, int flags, mode_t mode, struct fuse_file_info *fi)
{
    char b[PATH_MAX];
    backing_path(b, path);
    int trunc = flags & O_TRUNC;
    flags &= ~(O_TRUNC | O_APPEND);
    /* Writes land in memory but read the backing content first. */
    if ((flags & O_ACCMODE) == O_WRONLY)
        flags = (flags & ~O_ACCMODE) | O_RDWR;
    int fd = open(b, flags, mode);
    if (fd < 0)
        return -errno;
    if (trunc) {
        int r = resize(fd, b, 0);
        if (r) {
            close(fd);
            return r;
        }
    }
    fi->fh = (uint64_t)fd;
    return 0;
}

static int pc_create(const char *path, mode_t mode, struct fuse_file_info *fi)
{
    BEGIN(1, "create", path, NULL, -1, 0);
    ROOM_FOR_CHANGE();
    char b[PATH_MAX];
    backing_path(b, path);
    struct stat st;
    int made = lstat(b, &st) != 0;
    int r = open_backing(path, fi->flags | O_CREAT, mode, fi);
    if (r == 0 && made)
        note_change(MADE, path, NULL, 0, 0);
    return r;
}

static int pc_open(const char *path, struct fuse_file_info *fi)
{
    BEGIN(fi->flags & O_TRUNC ? 1 : 0, "open-truncate", path, NULL, -1, 0);
    return open_backing(path, fi->flags, 0, fi);
}

static int pc_read(const char *path, char *buf, size_t size, off_t offset, struct fuse_file_info *fi)
{
    BEGIN(0, "read", path, NULL, -1, 0);
    struct stat st;
    if (fstat((int)fi->fh, &st) != 0)
        return -errno;
    struct shadow *s = find_shadow(st.st_ino);
    if (!s) {
        ssize_t n = pread((int)fi->fh, buf, size, offset);
        return n < 0 ? -errno : (int)n;
    }
    if ((size_t)offset >= s->size)
        return 0;
    size_t n = s->size - (size_t)offset;
    if (n > size)
        n = size;
    memcpy(buf, s->data + offset, n);
    return (int)n;
}

static int pc_write(const char *path, const char *buf, size_t size, off_t offset, struct fuse_file_info *fi)
{
    BEGIN(1, "write", path, NULL, offset, (long long)size);
    int error = 0;
    struct shadow *s = shadow_of((int)fi->fh, &error);
    if (!s)
        return error;
    if (fi->flags & O_APPEND)
        offset = (off_t)s->size;
    size_t end = (size_t)offset + size;
    if ((error = reserve(s, end)) != 0)
        return error;
    if ((size_t)offset > s->size)
        memset(s->data + s->size, 0, (size_t)offset - s->size);
    memcpy(s->data + offset, buf, size);
    if (end > s->size)
        s->size = end;
    return (int)size;
}

static int pc_statfs(const char *path, struct statvfs *sv);

static int pc_flush(const char *path, struct fuse_file_info *fi)
{
    (void)fi;
    /* Closing a file writes nothing to the device. */
    BEGIN(0, "flush", path, NULL, -1, 0);
    return 0;
}

static int pc_release(const char *path, struct fuse_file_info *fi)
{
    (void)path;
    close((int)fi->fh);
    return 0;
}

/* The flush: the file's content reaches the device, whole. */
static int pc_fsync(const char *path, int datasync, struct fuse_file_info *fi)
{
    BEGIN(1, datasync ? "fdatasync" : "fsync", path, NULL, -1, 0);
    int fd = (int)fi->fh;
    struct stat st;
    if (fstat(fd, &st) != 0)
        return -errno;
    struct shadow *s = find_shadow(st.st_ino);
    if (s) {
        size_t done = 0;
        while (done < s->size) {
            ssize_t n = pwrite(fd, s->data + done, s->size - done, (off_t)done);
            if (n <= 0)
                return n < 0 ? -errno : -EIO;
            done += (size_t)n;
        }
        if (ftruncate(fd, (off_t)s->size) != 0)
            return -errno;
        drop_shadow(st.st_ino);
    }
    return fsync(fd) == 0 ? 0 : -errno;
}

/* The flush of a folder commits its pending changes. */
static int pc_fsyncdir(const char *path, int datasync, struct fuse_file_info *fi)
{
    (void)fi;
    BEGIN(1, datasync ? "fdatasyncdir" : "fsyncdir", path, NULL, -1, 0);
    char b[PATH_MAX];
    backing_path(b, path);
    struct stat st;
    if (lstat(b, &st) != 0)
        return -errno;
    return commit_folder(st.st_ino);
}

static int pc_opendir(const char *path, struct fuse_file_info *fi)
{
    (void)fi;
    BEGIN(0, "opendir", path, NULL, -1, 0);
    char b[PATH_MAX];
    backing_path(b, path);
    struct stat st;
    if (stat(b, &st) != 0)
        return -errno;
    return S_ISDIR(st.st_mode) ? 0 : -ENOTDIR;
}

/* What the files of the backing folder take, as the programs see them,
   in 4 KiB units (a folder takes one). */
static unsigned long long used_units;

static int count_units(const char *path, const struct stat *st, int type, struct FTW *ftw)
{
    (void)path; (void)ftw;
    if (type == FTW_F && S_ISREG(st->st_mode)) {
        struct shadow *s = find_shadow(st->st_ino);
        unsigned long long size = s ? s->size : (unsigned long long)st->st_size;
        used_units += (size + 4095) / 4096;
    } else if (type == FTW_D) {
        used_units += 1;
    }
    return 0;
}

static int pc_statfs(const char *path, struct statvfs *sv)
{
    BEGIN(0, "statfs", path, NULL, -1, 0);
    if (statvfs(options.backing, sv) != 0)
        return -errno;
    if (options.size) {
        used_units = 0;
        nftw(options.backing, count_units, 16, FTW_PHYS);
        if (used_units)
            used_units--;   /* the root folder itself */
        unsigned long long units = options.size / 4096;
        sv->f_bsize = sv->f_frsize = 4096;
        sv->f_blocks = units;
        sv->f_bfree = sv->f_bavail = units > used_units ? units - used_units : 0;
    }
    return 0;
}

static const struct fuse_operations operations = {
    .init = pc_init,
    .destroy = pc_destroy,
    .getattr = pc_getattr,
    .access = pc_access,
    .readlink = pc_readlink,
    .readdir = pc_readdir,
    .mknod = pc_mknod,
    .mkdir = pc_mkdir,
    .unlink = pc_unlink,
    .rmdir = pc_rmdir,
    .symlink = pc_symlink,
    .rename = pc_rename,
    .link = pc_link,
    .chmod = pc_chmod,
    .chown = pc_chown,
    .truncate = pc_truncate,
    .utimens = pc_utimens,
    .create = pc_create,
    .open = pc_open,
    .read = pc_read,
    .write = pc_write,
    .statfs = pc_statfs,
    .flush = pc_flush,
    .release = pc_release,
    .fsync = pc_fsync,
    .opendir = pc_opendir,
    .fsyncdir = pc_fsyncdir,
};

/* ------------------------------------------------------------------ */

#define OPTION(t, p) { t, offsetof(typeof(options), p), 1 }
static const struct fuse_opt option_spec[] = {
    OPTION("--control=%s", control_file),
    OPTION("--log=%s", log_file),
    OPTION("--pid=%s", pid_file),
    OPTION("--tag=%s", tag),
    OPTION("--cut-after=%lld", cut_after),
    OPTION("--size=%llu", size),
    OPTION("--folders-at-once", folders_at_once),
    FUSE_OPT_END
};

static int take_backing(void *data, const char *arg, int key, struct fuse_args *outargs)
{
    (void)data; (void)outargs;
    if (key == FUSE_OPT_KEY_NONOPT && !options.backing) {
        options.backing = realpath(arg, NULL);
        if (!options.backing) {
            fprintf(stderr, "powercutfs: no backing folder %s\n", arg);
            exit(2);
        }
        return 0;
    }
    return 1;
}

int main(int argc, char *argv[])
{
    struct fuse_args args = FUSE_ARGS_INIT(argc, argv);
    if (fuse_opt_parse(&args, &options, option_spec, take_backing) != 0)
        return 2;
    if (!options.backing || !options.control_file) {
        fprintf(stderr, "usage: powercutfs BACKING MOUNTPOINT --control=FILE [--cut-after=K] "
                        "[--size=BYTES] [--tag=NAME] [--log=FILE] [--pid=FILE] [--folders-at-once] "
                        "[FUSE options]\n");
        return 2;
    }
    if (open_control(options.control_file) != 0) {
        perror("powercutfs: control file");
        return 2;
    }
    /* Beside the backing folder, on its file system: entries moved aside
       must keep their inodes. */
    if (snprintf(attic, sizeof attic, "%s.pending-XXXXXX", options.backing) >= (int)sizeof attic
        || !mkdtemp(attic)) {
        perror("powercutfs: the folder of pending deletions");
        return 2;
    }
    if (options.log_file && (log_fd = open(options.log_file, O_WRONLY | O_CREAT | O_APPEND, 0644)) < 0) {
        perror("powercutfs: log");
        return 2;
    }
    /* One thread: the operations share the shadows without locks. */
    fuse_opt_add_arg(&args, "-s");
    fuse_opt_add_arg(&args, "-ofsname=powercutfs,subtype=powercutfs");
    int status = fuse_main(args.argc, args.argv, &operations, NULL);
    fuse_opt_free_args(&args);
    return status;
}
