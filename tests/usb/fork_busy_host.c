/* A host in C that forks without exec while another of its threads calls the library, as a
 * Python program with a worker thread and multiprocessing does. The library is loaded by path
 * (argv[1]). A thread lists the programmers again and again; the main thread forks ROUNDS
 * children, each of which lists the programmers once and ends. A child whose call has not come
 * back within three seconds is killed. Standard output, at the end:
 *
 *   children N hung H listed L
 *
 * where H children never came back from their call and L found a programmer. */
#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include "qs71_usb_writer.h"

enum { kRounds = 12 };

static Qs71UsbListProgrammersFunction list;
static atomic_int stop;

static void* Lister(void* unused) {
  (void)unused;
  Qs71ProgrammerInfo found[4];
  while (!atomic_load(&stop)) list(found, 4);
  return NULL;
}

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  void* library = dlopen(argv[1], RTLD_NOW);
  if (library == NULL) return 2;
  list = (Qs71UsbListProgrammersFunction)dlsym(library, "Qs71UsbListProgrammers");
  if (list == NULL) return 2;
  pthread_t thread;
  if (pthread_create(&thread, NULL, Lister, NULL) != 0) return 2;
  int hung = 0;
  int listed = 0;
  for (int round = 0; round < kRounds; ++round) {
    usleep(2000);
    const pid_t child = fork();
    if (child < 0) return 2;
    if (child == 0) {
      Qs71ProgrammerInfo found[4];
      alarm(3);
      _exit(list(found, 4) > 0 ? 0 : 1);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child) return 2;
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) ++hung;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) ++listed;
  }
  atomic_store(&stop, 1);
  pthread_join(thread, NULL);
  printf("children %d hung %d listed %d\n", kRounds, hung, listed);
  return 0;
}
