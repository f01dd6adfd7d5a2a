/* A host in C that forks workers without exec while another of its threads runs calls on the
 * first programmer, as a Python program with a status thread and multiprocessing does. The
 * library is loaded by path (argv[1]). A thread identifies the part again and again; the main
 * thread forks WORKERS children, which do nothing and live on. Then the thread stops, and the
 * host, whose calls are all over, takes the hold of the first programmer itself. Its workers
 * never took a hold, so nobody can hold the programmer but the host. Standard output:
 *
 *   hold CODE WHY
 *
 * WHY is "the host itself" where the host is named as the holder of what it does not hold.
 * The workers are ended before the host ends. */
#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "qs71_usb_writer.h"

enum { kWorkers = 150 };

static Qs71UsbJobFunction job;
static atomic_int stop;

static void QS71_CDECL Drop(void* context, const char* text) {
  (void)context;
  (void)text;
}

static void* Identifier(void* unused) {
  (void)unused;
  while (!atomic_load(&stop)) {
    Qs71JobRequest request;
    Qs71JobResult result;
    memset(&request, 0, sizeof request);
    memset(&result, 0, sizeof result);
    request.size = sizeof request;
    request.output = Drop;
    result.size = sizeof result;
    job(&request, &result);
  }
  return NULL;
}

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  void* library = dlopen(argv[1], RTLD_NOW);
  if (library == NULL) return 2;
  job = (Qs71UsbJobFunction)dlsym(library, "Qs71UsbJob");
  Qs71UsbHoldFunction hold = (Qs71UsbHoldFunction)dlsym(library, "Qs71UsbHold");
  if (job == NULL || hold == NULL) return 2;
  pthread_t thread;
  if (pthread_create(&thread, NULL, Identifier, NULL) != 0) return 2;
  pid_t workers[kWorkers];
  int made = 0;
  for (; made < kWorkers; ++made) {
    usleep(1000);
    workers[made] = fork();
    if (workers[made] < 0) break;
    if (workers[made] == 0) {
      for (;;) pause();
    }
  }
  atomic_store(&stop, 1);
  pthread_join(thread, NULL);
  char why[256] = "";
  const int code = (int)hold(NULL, why, sizeof why);
  char self[64];
  snprintf(self, sizeof self, "process %ld ", (long)getpid());
  /* The host itself is named as its own holder: a worker kept the lock of one of its calls. */
  printf("hold %d %s\n", code, strncmp(why, self, strlen(self)) == 0 ? "the host itself" : why);
  fflush(stdout);
  for (int k = 0; k < made; ++k) {
    kill(workers[k], SIGKILL);
    waitpid(workers[k], NULL, 0);
  }
  return 0;
}
