/* Runs a program and writes what it cost: the harnesses start every timed
 * program through this one, because a child's peak memory (ru_maxrss) never
 * drops below what it had when it was forked, and a harness that has
 * generated a package is large. This process stays small, so the figure is
 * the program's own.
 * Usage: bench_measure REPORT PROGRAM [ARG ...]
 * REPORT receives one line: "<wait status> <user s> <system s> <peak KiB>".
 * Exits 0 when the report was written, 125 otherwise. */
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: bench_measure REPORT PROGRAM [ARG ...]\n");
        return 125;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        perror("fork");
        return 125;
    }
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    memset(&usage, 0, sizeof usage);
    pid_t r;
    do {
        r = wait4(pid, &status, 0, &usage);
    } while (r < 0 && errno == EINTR);
    if (r != pid) {
        perror("wait4");
        return 125;
    }
    FILE* report = fopen(argv[1], "w");
    if (report == NULL) {
        perror(argv[1]);
        return 125;
    }
    fprintf(report, "%d %ld.%06ld %ld.%06ld %ld\n", status, (long)usage.ru_utime.tv_sec, (long)usage.ru_utime.tv_usec,
            (long)usage.ru_stime.tv_sec, (long)usage.ru_stime.tv_usec, usage.ru_maxrss);
    return fclose(report) == 0 ? 0 : 125;
}
