/* The floor of the ingest figures: what receiving a chat line costs at the least. It binds the
 * chat port with the program's receive buffer, and for each datagram writes its bytes and a line
 * end to a file and flushes, decoding nothing. It counts the lines into the file itself, so the
 * benchmark reads what arrived from there, as it does from the program's log.
 *
 *     vorlan_floor_receiver <port> <output file>
 *
 * Runs until killed. */
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: %s <port> <output file>\n", argv[0]);
        return 2;
    }
    FILE *out = fopen(argv[2], "ab");
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (!out || fd < 0)
        return 1;
    int size = 1024 * 1024; /* as the program asks for */
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    struct sockaddr_in local = {0};
    local.sin_family = AF_INET;
    local.sin_port = htons((unsigned short)atoi(argv[1]));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, (struct sockaddr *)&local, sizeof local) < 0)
        return 1;
    printf("ready\n");
    fflush(stdout);
    static char buffer[65536];
    for (;;) {
        struct sockaddr_in source;
        socklen_t length = sizeof source;
        ssize_t received = recvfrom(fd, buffer, sizeof buffer, 0, (struct sockaddr *)&source, &length);
        if (received < 0)
            continue;
        fwrite(buffer, 1, (size_t)received, out);
        fputs("\r\n", out);
        fflush(out);
    }
}
