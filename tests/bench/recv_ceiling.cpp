// The ceiling of the download benchmark: a Win32 program that only sends one GET for
// an http://127.0.0.1:<port>/<path> URL and recvs the whole response into one buffer
// with blocking Winsock calls, nothing written anywhere. What the platform's sockets
// carry with no HTTP library and no file in the way.
// Usage: recv_ceiling <url> [receive buffer KiB, default 10240: libcurl's largest]
// Prints: bytes (of the body), seconds, MB/s, recv calls. Exits 0 only when the whole
// body announced by Content-Length arrived.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "bench_clock.h"

namespace {

// The body's length from a complete header block; -1 when it names none.
long long ContentLength(const char* headers) {
  const char* name = "\r\ncontent-length:";
  for (const char* at = headers; *at; ++at) {
    if (_strnicmp(at, name, strlen(name)) == 0) return _atoi64(at + strlen(name));
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned port = 0;
  char path[512] = "";
  if (argc < 2 || sscanf(argv[1], "http://127.0.0.1:%u/%510s", &port, path) != 2) {
    fprintf(stderr, "usage: recv_ceiling http://127.0.0.1:<port>/<path> [buffer KiB]\n");
    return 2;
  }
  const size_t bufferBytes = (argc > 2 ? strtoul(argv[2], nullptr, 10) : 10240) * 1024;
  if (bufferBytes == 0 || bufferBytes > 64u * 1024 * 1024) return 2;
  std::unique_ptr<char[]> buffer(new char[bufferBytes]);

  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 1;
  const double start = SecondsNow();
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (s == INVALID_SOCKET || connect(s, reinterpret_cast<sockaddr*>(&address),
                                     sizeof(address)) != 0) {
    fprintf(stderr, "cannot connect: %d\n", WSAGetLastError());
    return 1;
  }
  char request[640];
  const int requestLength = snprintf(
      request, sizeof(request), "GET /%s HTTP/1.1\r\nHost: 127.0.0.1:%u\r\nAccept: */*\r\n\r\n",
      path, port);
  if (send(s, request, requestLength, 0) != requestLength) return 1;

  // The header block first, into the same buffer; the body's first bytes follow it.
  size_t held = 0;
  long long body = -1;
  long long received = 0;
  long calls = 0;
  while (body < 0) {
    const int got = recv(s, buffer.get() + held, static_cast<int>(bufferBytes - 1 - held), 0);
    ++calls;
    if (got <= 0) return 1;
    held += static_cast<size_t>(got);
    buffer[held] = '\0';
    char* end = strstr(buffer.get(), "\r\n\r\n");
    if (end) {
      received = static_cast<long long>(held - (end + 4 - buffer.get()));
      end[2] = '\0';  // the length is looked for in the header block only
      body = ContentLength(buffer.get());
      if (body < 0) return 1;
    } else if (held + 1 >= bufferBytes) {
      return 1;
    }
  }
  while (received < body) {
    const int got = recv(s, buffer.get(), static_cast<int>(bufferBytes), 0);
    ++calls;
    if (got <= 0) break;
    received += got;
  }
  const double seconds = SecondsNow() - start;
  closesocket(s);
  WSACleanup();
  printf("bytes %lld\nseconds %.3f\nMB/s %.1f\nrecv_calls %ld\n", received, seconds,
         seconds > 0 ? received / seconds / 1e6 : 0.0, calls);
  return received == body ? 0 : 1;
}
