/* The sending host of the ingest figures: an open-loop sender that never waits for the
 * receiver. It replays the datagrams of a file, one per line, to <target>:<port> at <rate> per
 * second: every millisecond it sends as many as are due by then, so the pace holds whatever the
 * receiver does, and what the receiver cannot take is lost, as on a real segment.
 *
 *     vorlan_paced_sender <target> <port> <rate> <datagram file>
 *
 * Prints "sent <count> <seconds> <errors>" when done (errors: sends the local kernel refused). */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>

static double now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(int argc, char **argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: %s <target> <port> <rate> <datagram file>\n", argv[0]);
        return 2;
    }
    const double rate = atof(argv[3]);
    FILE *in = fopen(argv[4], "rb");
    if (!in || rate <= 0)
        return 1;
    size_t capacity = 1024, count = 0;
    char **lines = malloc(capacity * sizeof *lines);
    size_t *lengths = malloc(capacity * sizeof *lengths);
    char *line = NULL;
    size_t size = 0;
    ssize_t length;
    while ((length = getline(&line, &size, in)) > 0) {
        if (line[length - 1] == '\n')
            --length;
        if (count == capacity) {
            capacity *= 2;
            lines = realloc(lines, capacity * sizeof *lines);
            lengths = realloc(lengths, capacity * sizeof *lengths);
        }
        lines[count] = malloc((size_t)length);
        memcpy(lines[count], line, (size_t)length);
        lengths[count++] = (size_t)length;
    }
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    int buffer = 4 * 1024 * 1024;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    struct sockaddr_in target = {0};
    target.sin_family = AF_INET;
    target.sin_port = htons((unsigned short)atoi(argv[2]));
    inet_pton(AF_INET, argv[1], &target.sin_addr);

    size_t sent = 0, errors = 0;
    const double start = now();
    struct timespec tick;
    clock_gettime(CLOCK_MONOTONIC, &tick);
    while (sent < count) {
        size_t due = (size_t)((now() - start) * rate) + 1;
        if (due > count)
            due = count;
        for (; sent < due; ++sent) {
            if (sendto(fd, lines[sent], lengths[sent], 0, (struct sockaddr *)&target, sizeof target) < 0)
                ++errors;
        }
        tick.tv_nsec += 1000000;
        if (tick.tv_nsec >= 1000000000) {
            tick.tv_nsec -= 1000000000;
            ++tick.tv_sec;
        }
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &tick, NULL) == EINTR) {
        }
    }
    printf("sent %zu %.6f %zu\n", sent, now() - start, errors);
    return 0;
}
