/*
 * Drives for the tests: Wine drives of the test prefix defined, redefined
 * and removed while processes run (through Wine's mount manager, so the
 * change is seen at once, like inserting another disk), each backed by a
 * Unix directory or by a small tmpfs mount of a known size, with or without
 * a volume label, and drives without a medium (a link to nothing). Mount
 * points live under the build directory. Tests that use these change the
 * whole prefix and belong in a test folder that runs alone (SERIAL).
 */
#ifndef KIRO_DRIVE_FIXTURE_H
#define KIRO_DRIVE_FIXTURE_H

#include <windows.h>
#include <string>

/* Defines drive letter (a..z) of type DRIVE_REMOVABLE, DRIVE_FIXED,
   DRIVE_REMOTE, DRIVE_CDROM or DRIVE_RAMDISK over the Unix directory
   unix_dir, with volume label label (NULL: none). A drive that exists is
   replaced. A directory on which a block device is mounted (an exFAT
   stick) is defined with that device, as Wine does for a stick it finds. The label file is written into unix_dir only while the drive
   is defined and removed again, so the drive stays empty. */
bool define_drive(char letter, UINT type, const std::string &unix_dir, const char *label = NULL);
/* A drive of type whose link points nowhere: a drive without a medium. */
bool define_drive_without_medium(char letter, UINT type = DRIVE_REMOVABLE);
/* A network drive connected to \\server\share (an empty shared folder
   inside the prefix), as a mapped network drive is. */
bool define_network_drive(char letter, const std::string &server, const std::string &share);
/* Removes the drive from the prefix. */
bool remove_drive(char letter);

/* text in single quotes for the Unix shell, its own quotes escaped. */
std::string shell_quote(const std::string &text);
/* The Unix path of the build directory (KIRO_BUILD), without a trailing
   slash; the Unix directory of the test executables when it is not set. */
std::string build_unix_dir();
/* A directory under the build directory for mount points and drive
   backings (created, emptied): build/drives/<name>. */
std::string drive_dir(const std::string &name);

/* Mounts a tmpfs of bytes (rounded up to whole pages by the kernel) on
   unix_dir (created when missing), read-only when asked. Answers unix_dir,
   or an empty text after a test failure has been recorded: a test that
   needs a mount never passes without one. */
std::string mount_tmpfs(const std::string &unix_dir, unsigned long bytes, bool read_only = false);
/* Switches a mounted tmpfs between read-only and writable. */
bool remount_tmpfs(const std::string &unix_dir, bool read_only);
void unmount_dir(const std::string &unix_dir);

/* Scoped helpers: the drive is removed, the mount undone, when the test
   ends, also when it fails. */
struct ScopedDrive {
    char letter;
    bool ok;
    ScopedDrive(char letter, UINT type, const std::string &unix_dir, const char *label = NULL);
    ~ScopedDrive();
};
struct ScopedTmpfs {
    std::string dir;   /* empty when mounting failed */
    ScopedTmpfs(const std::string &name, unsigned long bytes, bool read_only = false);
    ~ScopedTmpfs();
};

/* A real stick: an exFAT image of bytes with 4 KiB clusters (exfatprogs'
   mkfs.exfat) attached to a loop device and mounted through FUSE
   (exfat-fuse) on build/drives/<name>, as a USB stick's file system is.
   Its own structures take clusters of their own: an empty 4 MiB disk has
   4,161,536 bytes free. A machine that cannot mount one records a test
   failure that says why (dir is then empty); such a test never passes. */
struct ScopedExfat {
    std::string dir;
    std::string image;
    ScopedExfat(const std::string &name, unsigned long bytes);
    ~ScopedExfat();
};

#endif
