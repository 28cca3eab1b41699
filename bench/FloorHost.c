/* The floor for start-up: the least a native-messaging host can do. Reads
 * one frame and answers it with a fixed frame. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

int main(void)
{
    unsigned char len[4];
    if (fread(len, 1, 4, stdin) != 4)
        return 0;
    const uint32_t n = len[0] | len[1] << 8 | len[2] << 16 | (uint32_t)len[3] << 24;
    char* body = malloc((size_t)n + 1);
    if (body == NULL || fread(body, 1, n, stdin) != n)
        return 1;
    static const char reply[] =
        "{\"function\":\"GetLastErrorDesc\",\"errorcode\":0,\"result\":\"The operation completed successfully.\\r\\n\\n(0x00000000)\"}";
    const uint32_t m = sizeof reply - 1;
    const unsigned char head[4] = {(unsigned char)m, (unsigned char)(m >> 8), (unsigned char)(m >> 16),
                                   (unsigned char)(m >> 24)};
    fwrite(head, 1, 4, stdout);
    fwrite(reply, 1, m, stdout);
    fflush(stdout);
    free(body);
    return 0;
}
