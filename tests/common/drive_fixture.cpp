/*
 * Drives for the tests (see drive_fixture.h). Drives are defined through
 * the mount manager's Unix-drive request, which creates or replaces the
 * dosdevices link and the drive's type at once and reads the volume label
 * again, in every process of the prefix; mounts are made with the machine's
 * own mount command through run_unix.
 */
#include "drive_fixture.h"
#include "driver.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <winioctl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vector>

/* The mount manager's request to define a drive over a Unix directory, as
   this Wine lays it out. The strings follow the record; offsets count from
   its start. */
#define KIRO_IOCTL_DEFINE_UNIX_DRIVE CTL_CODE((ULONG)'m', 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS)

struct UnixDriveRequest {
    ULONG size;
    ULONG type;
    ULONG fs_type;
    DWORD serial;
    ULONGLONG unix_dev;
    WCHAR letter;
    USHORT mount_point_offset;
    USHORT device_offset;
    USHORT label_offset;
};

static bool send_define(char letter, UINT type, const char *mount_point, const char *device = NULL)
{
    size_t mount_size = mount_point ? strlen(mount_point) + 1 : 0;
    size_t device_size = device ? strlen(device) + 1 : 0;
    std::vector<char> buffer(sizeof(UnixDriveRequest) + mount_size + device_size);
    UnixDriveRequest request;
    memset(&request, 0, sizeof request);
    request.size = (ULONG)buffer.size();
    request.type = type;
    request.letter = (WCHAR)(letter | 0x20);
    if (mount_point) {
        request.mount_point_offset = (USHORT)sizeof(UnixDriveRequest);
        memcpy(buffer.data() + request.mount_point_offset, mount_point, mount_size);
    }
    if (device) {
        request.device_offset = (USHORT)(sizeof(UnixDriveRequest) + mount_size);
        memcpy(buffer.data() + request.device_offset, device, device_size);
    }
    memcpy(buffer.data(), &request, sizeof request);
    HANDLE manager = CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (manager == INVALID_HANDLE_VALUE)
        return false;
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(manager, KIRO_IOCTL_DEFINE_UNIX_DRIVE, buffer.data(), (DWORD)buffer.size(),
                              NULL, 0, &returned, NULL);
    CloseHandle(manager);
    return ok != FALSE;
}

std::string build_unix_dir()
{
    const char *build = getenv("KIRO_BUILD");
    if (build && build[0]) {
        std::string dir = build;
        while (dir.size() > 1 && dir.back() == '/')
            dir.pop_back();
        return dir;
    }
    std::string exe_dir = unix_path(test_exe_dir());
    while (exe_dir.size() > 1 && exe_dir.back() == '/')
        exe_dir.pop_back();
    return exe_dir;
}

std::string shell_quote(const std::string &text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

std::string drive_dir(const std::string &name)
{
    std::string dir = build_unix_dir() + "/drives/" + name;
    /* Whatever an earlier run left mounted there goes first. */
    run_unix("mountpoint -q " + shell_quote(dir) + " && umount " + shell_quote(dir) + "; rm -rf " +
             shell_quote(dir) + "; mkdir -p " + shell_quote(dir));
    return dir;
}

/* The block device mounted on unix_dir ("/dev/loop3"), or "" for a file
   system without one (tmpfs, a plain folder). */
static std::string mounted_device(const std::string &unix_dir)
{
    FILE *mounts = fopen("Z:\\proc\\mounts", "r");
    if (!mounts)
        return "";
    std::string device;
    char line[1024];
    while (fgets(line, sizeof line, mounts)) {
        char source[512], target[512];
        if (sscanf(line, "%511s %511s", source, target) == 2 && unix_dir == target &&
            strncmp(source, "/dev/", 5) == 0)
            device = source;
    }
    fclose(mounts);
    return device;
}

bool define_drive(char letter, UINT type, const std::string &unix_dir, const char *label)
{
    std::string label_file = windows_path(unix_dir + "/.windows-label");
    if (label) {
        if (!write_file(label_file, std::string(label) + "\n"))
            return false;
    } else {
        DeleteFileA(label_file.c_str());
    }
    /* Remove first: redefining a drive in place keeps what the mount
       manager knew of the old medium, the label included. */
    send_define(letter, DRIVE_NO_ROOT_DIR, NULL);
    /* A stick's file system is defined with its device, as Wine's mount
       manager does for a medium it finds itself: the volume's details are
       looked up by that device. */
    std::string device = mounted_device(unix_dir);
    bool ok = send_define(letter, type, unix_dir.c_str(), device.empty() ? NULL : device.c_str());
    /* The label has been read; without its file the drive is empty again,
       as a fresh stick is. */
    if (label)
        DeleteFileA(label_file.c_str());
    return ok;
}

bool define_drive_without_medium(char letter, UINT type)
{
    std::string nowhere = build_unix_dir() + "/drives/no-medium-" + std::string(1, (char)(letter | 0x20));
    run_unix("rm -rf " + shell_quote(nowhere));
    send_define(letter, DRIVE_NO_ROOT_DIR, NULL);
    return send_define(letter, type, nowhere.c_str());
}

bool define_network_drive(char letter, const std::string &server, const std::string &share)
{
    /* Wine tells a drive's network connection from a link into the
       prefix's unc folder: dosdevices/x: -> unc/server/share. */
    const char *prefix = getenv("WINEPREFIX");
    if (!prefix || !prefix[0])
        return false;
    std::string link = "unc/" + server + "/" + share;
    if (run_unix("mkdir -p " + shell_quote(std::string(prefix) + "/dosdevices/" + link)) != 0)
        return false;
    send_define(letter, DRIVE_NO_ROOT_DIR, NULL);
    return send_define(letter, DRIVE_REMOTE, link.c_str());
}

bool remove_drive(char letter)
{
    return send_define(letter, DRIVE_NO_ROOT_DIR, NULL);
}

std::string mount_tmpfs(const std::string &unix_dir, unsigned long bytes, bool read_only)
{
    std::string dir = shell_quote(unix_dir);
    std::string command = "mkdir -p " + dir + " && (mountpoint -q " + dir + " && umount " + dir +
                          "; true) && mount -t tmpfs -o size=" + std::to_string(bytes) + ",mode=0777" +
                          (read_only ? ",ro" : "") + " tmpfs " + dir;
    int status = run_unix(command);
    if (status != 0) {
        ADD_FAILURE() << "could not mount a tmpfs of " << bytes << " bytes on " << unix_dir
                      << " (status " << status << ")";
        return "";
    }
    return unix_dir;
}

bool remount_tmpfs(const std::string &unix_dir, bool read_only)
{
    std::string dir = shell_quote(unix_dir);
    return run_unix(std::string("mount -o remount,") + (read_only ? "ro " : "rw ") + dir) == 0;
}

void unmount_dir(const std::string &unix_dir)
{
    if (unix_dir.empty())
        return;
    std::string dir = shell_quote(unix_dir);
    if (run_unix("! mountpoint -q " + dir + " || umount " + dir + " || umount -l " + dir) != 0)
        ADD_FAILURE() << "could not unmount " << unix_dir;
}

ScopedDrive::ScopedDrive(char l, UINT type, const std::string &unix_dir, const char *label)
    : letter(l), ok(define_drive(l, type, unix_dir, label))
{
    if (!ok)
        ADD_FAILURE() << "could not define drive " << l << ": over " << unix_dir;
}

ScopedDrive::~ScopedDrive()
{
    remove_drive(letter);
}

ScopedTmpfs::ScopedTmpfs(const std::string &name, unsigned long bytes, bool read_only)
    : dir(mount_tmpfs(drive_dir(name), bytes, read_only))
{
}

ScopedTmpfs::~ScopedTmpfs()
{
    unmount_dir(dir);
}

ScopedExfat::ScopedExfat(const std::string &name, unsigned long bytes)
{
    std::string mount_point = drive_dir(name);
    image = build_unix_dir() + "/drives/" + name + ".img";
    std::string log = image + ".log";
    std::string img = shell_quote(image);
    /* Loop devices of an earlier run over the same image go first. */
    std::string command =
        "for d in $(losetup -n -O NAME -j " + img + " 2>/dev/null); do losetup -d $d; done; rm -f " + img +
        " && truncate -s " + std::to_string(bytes) + " " + img + " && mkfs.exfat -c 4K -b 4K " + img +
        " >/dev/null && dev=$(losetup -f --show " + img + ") && mount.exfat-fuse $dev " +
        shell_quote(mount_point) + " && chmod 0777 " + shell_quote(mount_point);
    int status = run_unix("(" + command + ") >" + shell_quote(log) + " 2>&1", 60000);
    if (status != 0) {
        std::string why = read_file(windows_path(log));
        ADD_FAILURE() << "could not mount an exFAT disk of " << bytes << " bytes on " << mount_point
                      << " (status " << status << "); this machine needs exfatprogs, exfat-fuse, loop "
                      << "devices and /dev/fuse:\n" << why;
        return;
    }
    dir = mount_point;
}

ScopedExfat::~ScopedExfat()
{
    if (!dir.empty() && run_unix("umount " + shell_quote(dir) + " || fusermount -u " + shell_quote(dir)) != 0)
        ADD_FAILURE() << "could not unmount " << dir;
    if (!image.empty())
        run_unix("for d in $(losetup -n -O NAME -j " + shell_quote(image) + " 2>/dev/null); do losetup -d $d; "
                 "done; rm -f " + shell_quote(image) + " " + shell_quote(image + ".log"));
}
