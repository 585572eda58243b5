// A disk that fails on purpose: a FUSE file system with one file, "disk",
// holding the bytes of an image file, where chosen byte ranges answer every
// read with EIO after a delay (the way a dying card answers).
//
//   failing_disk IMAGE RANGES DELAY_MS MOUNTPOINT [fuse options]
//
// RANGES is "from-to,from-to" in bytes ("" or "-" for none). Reads go to the
// file system as the caller made them (direct_io), so a range fails exactly.
#define FUSE_USE_VERSION 31
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#define MAX_RANGES 4096

static int image_fd = -1;
static off_t image_size;
static uint64_t bad_from[MAX_RANGES], bad_to[MAX_RANGES];
static int bad_count;
static long delay_ms;

static int parse_ranges(const char* spec) {
    if (!*spec || strcmp(spec, "-") == 0) return 0;
    for (const char* p = spec; *p;) {
        char* end;
        uint64_t from = strtoull(p, &end, 10);
        if (*end != '-' || bad_count == MAX_RANGES) return -1;
        uint64_t to = strtoull(end + 1, &end, 10);
        if (to <= from || (*end && *end != ',')) return -1;
        bad_from[bad_count] = from;
        bad_to[bad_count++] = to;
        p = *end ? end + 1 : end;
    }
    return 0;
}

static int is_bad(uint64_t off, uint64_t n) {
    for (int i = 0; i < bad_count; ++i)
        if (bad_from[i] < off + n && bad_to[i] > off) return 1;
    return 0;
}

static int fd_getattr(const char* path, struct stat* st, struct fuse_file_info* fi) {
    (void)fi;
    memset(st, 0, sizeof *st);
    if (strcmp(path, "/") == 0) {
        st->st_mode = S_IFDIR | 0755;
        st->st_nlink = 2;
        return 0;
    }
    if (strcmp(path, "/disk") != 0) return -ENOENT;
    st->st_mode = S_IFREG | 0444;
    st->st_nlink = 1;
    st->st_size = image_size;
    return 0;
}

static int fd_readdir(const char* path, void* buf, fuse_fill_dir_t fill, off_t off, struct fuse_file_info* fi,
                      enum fuse_readdir_flags flags) {
    (void)off, (void)fi, (void)flags;
    if (strcmp(path, "/") != 0) return -ENOENT;
    fill(buf, ".", NULL, 0, 0);
    fill(buf, "..", NULL, 0, 0);
    fill(buf, "disk", NULL, 0, 0);
    return 0;
}

static int fd_open(const char* path, struct fuse_file_info* fi) {
    if (strcmp(path, "/disk") != 0) return -ENOENT;
    if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
    fi->direct_io = 1;
    return 0;
}

static int fd_read(const char* path, char* buf, size_t n, off_t off, struct fuse_file_info* fi) {
    (void)path, (void)fi;
    if (off >= image_size) return 0;
    if ((off_t)n > image_size - off) n = (size_t)(image_size - off);
    if (is_bad((uint64_t)off, n)) {
        struct timespec t = {delay_ms / 1000, (delay_ms % 1000) * 1000000L};
        nanosleep(&t, NULL);
        return -EIO;
    }
    ssize_t r = pread(image_fd, buf, n, off);
    return r < 0 ? -errno : (int)r;
}

static const struct fuse_operations ops = {
    .getattr = fd_getattr,
    .readdir = fd_readdir,
    .open = fd_open,
    .read = fd_read,
};

int main(int argc, char** argv) {
    if (argc < 5) {
        fprintf(stderr, "usage: %s IMAGE RANGES DELAY_MS MOUNTPOINT [fuse options]\n", argv[0]);
        return 2;
    }
    image_fd = open(argv[1], O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (image_fd < 0 || fstat(image_fd, &st) != 0 || parse_ranges(argv[2]) != 0) {
        fprintf(stderr, "failing_disk: bad image or ranges\n");
        return 2;
    }
    image_size = st.st_size;
    delay_ms = strtol(argv[3], NULL, 10);
    argv[3] = argv[0];  // fuse sees: program MOUNTPOINT options
    return fuse_main(argc - 3, argv + 3, &ops, NULL);
}
