/* A host in C that forks without exec, as Python's multiprocessing does: the parent holds the
 * first programmer, the child identifies the part on it, then the parent lets go. Each says on
 * standard output what it got:
 *
 *   parent hold CODE
 *   child PID job CODE TEXT      (the job's one line of text, or its first)
 *   parent release CODE
 *
 * then both wait until the test ends them. */
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "qs71_usb_writer.h"

static char text[4096];

static void QS71_CDECL Keep(void* context, const char* piece) {
  (void)context;
  strncat(text, piece, sizeof text - strlen(text) - 1);
}

static int Identify(void) {
  Qs71JobRequest request;
  Qs71JobResult result;
  memset(&request, 0, sizeof request);
  memset(&result, 0, sizeof result);
  request.size = sizeof request;
  request.output = Keep;
  result.size = sizeof result;
  return Qs71UsbJob(&request, &result);
}

int main(void) {
  char why[128] = "";
  int ready[2];
  char done = 0;
  printf("parent hold %d\n", (int)Qs71UsbHold(NULL, why, sizeof why));
  fflush(stdout);
  if (pipe(ready) != 0) return 2;
  if (fork() == 0) {
    const int code = Identify();
    text[strcspn(text, "\n")] = '\0';
    printf("child %ld job %d %s\n", (long)getpid(), code, text);
    fflush(stdout);
    if (write(ready[1], "x", 1) != 1) return 2;
    pause();
    return 0;
  }
  if (read(ready[0], &done, 1) != 1) return 2;
  printf("parent release %d\n", (int)Qs71UsbRelease(NULL));
  fflush(stdout);
  pause();
  return 0;
}
