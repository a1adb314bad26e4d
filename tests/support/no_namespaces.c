// no_namespaces: runs a command where new namespaces and mounts are refused,
// as a container runtime's default seccomp profile refuses them: unshare,
// setns, mount, umount2, pivot_root and the new mount interface fail with
// EPERM; clone fails with EPERM when asked for any new namespace; clone3
// fails with ENOSYS, so that the C library falls back to clone, whose flags
// a filter can see. The filter holds for the command and everything it
// starts, and cannot be lifted.
//
//   no_namespaces COMMAND [ARG...]
#define _GNU_SOURCE
#include <errno.h>
#include <sched.h>
#include <seccomp.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

static int Refuse(scmp_filter_ctx filter, const char* name, int error) {
  const int number = seccomp_syscall_resolve_name(name);
  // A system call this libseccomp does not know cannot be made through it
  // either.
  if (number == __NR_SCMP_ERROR) return 0;
  return seccomp_rule_add(filter, SCMP_ACT_ERRNO(error), number, 0);
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: no_namespaces COMMAND [ARG...]\n");
    return 2;
  }
  scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
  if (filter == NULL) {
    fprintf(stderr, "no_namespaces: seccomp_init failed\n");
    return 1;
  }
  static const char* const kRefused[] = {"unshare",    "setns",     "mount",      "umount2",
                                         "pivot_root", "open_tree", "move_mount", "fsopen",
                                         "fsconfig",   "fsmount",   "fspick",     "mount_setattr"};
  static const unsigned long kNewNamespaces[] = {CLONE_NEWNS,    CLONE_NEWUSER, CLONE_NEWPID,
                                                 CLONE_NEWNET,   CLONE_NEWUTS,  CLONE_NEWIPC,
                                                 CLONE_NEWCGROUP};
  int status = 0;
  for (size_t i = 0; i < sizeof(kRefused) / sizeof(kRefused[0]) && status == 0; ++i) {
    status = Refuse(filter, kRefused[i], EPERM);
  }
  for (size_t i = 0; i < sizeof(kNewNamespaces) / sizeof(kNewNamespaces[0]) && status == 0; ++i) {
    status = seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(clone), 1,
                              SCMP_A0(SCMP_CMP_MASKED_EQ, kNewNamespaces[i], kNewNamespaces[i]));
  }
  if (status == 0) status = Refuse(filter, "clone3", ENOSYS);
  if (status == 0) status = seccomp_load(filter);
  seccomp_release(filter);
  if (status != 0) {
    fprintf(stderr, "no_namespaces: cannot install the filter: %s\n", strerror(-status));
    return 1;
  }
  execvp(argv[1], argv + 1);
  fprintf(stderr, "no_namespaces: cannot run %s: %s\n", argv[1], strerror(errno));
  return 127;
}
