/* What the kernel charges for the bytes that a window of 1/16 of the positions of a transposed map needs:
 * the rows n/4 .. n/2 (full width) of each of the 1,500 records of an n x n map, each record n*n*4 bytes
 * of values and a 216-byte info area. Four ways, best of 25 rounds taken in turn:
 *
 *   through gaps  one preadv per 1,024 pieces, the bytes between two records' rows read into a scratch
 *                 buffer (what the reader does when the gaps are under 8 KiB)
 *   per record    one pread per record, the gaps skipped (what it does when they are longer)
 *   mmap          the file mapped and the rows copied out (not used by the reader: a file that another
 *                 process truncates while it is mapped kills the reading process with SIGBUS)
 *   whole file    one pread of every byte, as a full read's input costs
 *
 *   cc -O2 -o build/window_io_floor bench/window_io_floor.c && build/window_io_floor 32 64 128
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

enum { POINTS = 1500, INFO = 216, HEAD = 4096, MAX_GAP = 8192, MAX_PIECES = 1024, ROUNDS = 25 };

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

static long stride, first, length, size;
static int fd;
static char *rows, *whole;
static char scratch[MAX_GAP];

static void through_gaps(void) {
  struct iovec iov[MAX_PIECES];
  int n = 0;
  long start = 0, end = 0;
  for (long k = 0; k < POINTS; ++k) {
    const long at = HEAD + k * stride + first;
    if (n && (at - end > MAX_GAP || n + 2 > MAX_PIECES)) {
      if (preadv(fd, iov, n, start) < 0) perror("preadv");
      n = 0;
    }
    if (n == 0) {
      start = end = at;
    } else if (at > end) {
      iov[n++] = (struct iovec){scratch, (size_t)(at - end)};
      end = at;
    }
    iov[n++] = (struct iovec){rows + k * length, (size_t)length};
    end += length;
  }
  if (preadv(fd, iov, n, start) < 0) perror("preadv");
}

static void per_record(void) {
  for (long k = 0; k < POINTS; ++k) {
    if (pread(fd, rows + k * length, (size_t)length, HEAD + k * stride + first) < 0) perror("pread");
  }
}

static void mapped(void) {
  char* m = mmap(NULL, (size_t)size, PROT_READ, MAP_SHARED, fd, 0);
  if (m == MAP_FAILED) {
    perror("mmap");
    return;
  }
  for (long k = 0; k < POINTS; ++k) memcpy(rows + k * length, m + HEAD + k * stride + first, (size_t)length);
  munmap(m, (size_t)size);
}

static void whole_file(void) {
  if (pread(fd, whole, (size_t)size, 0) < 0) perror("pread");
}

int main(int argc, char** argv) {
  char path[] = "/tmp/window_io_floor_XXXXXX";
  for (int a = 1; a < argc; ++a) {
    const long side = atol(argv[a]);
    stride = side * side * 4 + INFO;
    first = side / 4 * side * 4;
    length = side / 4 * side * 4;
    size = HEAD + stride * POINTS;
    fd = mkstemp(path);
    whole = malloc((size_t)size);
    rows = malloc((size_t)(length * POINTS));
    memset(whole, 1, (size_t)size);
    memset(rows, 1, (size_t)(length * POINTS));
    if (fd < 0 || write(fd, whole, (size_t)size) != size) return 1;
    void (*ways[])(void) = {through_gaps, per_record, mapped, whole_file};
    const char* names[] = {"through gaps", "per record", "mmap", "whole file"};
    double best[4] = {1e9, 1e9, 1e9, 1e9};
    for (int r = 0; r < ROUNDS; ++r) {
      for (int w = 0; w < 4; ++w) {
        const double t = now();
        ways[w]();
        const double took = now() - t;
        if (took < best[w]) best[w] = took;
      }
    }
    printf("%ld x %ld: records of %ld bytes, %ld of each wanted;", side, side, stride, length);
    for (int w = 0; w < 4; ++w) printf(" %s %.3f ms%s", names[w], best[w] * 1e3, w < 3 ? "," : "\n");
    close(fd);
    unlink(path);
    strcpy(path, "/tmp/window_io_floor_XXXXXX");
    free(whole);
    free(rows);
  }
  return 0;
}
