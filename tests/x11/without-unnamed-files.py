#!/usr/bin/env python3
"""Runs PROGRAM ARGS... with open() refusing O_TMPFILE (EOPNOTSUPP), as on a file system without
unnamed files, so that a wave file is written under a hidden temporary name. The seccomp filter
is tests/support/process_support.h's refuseUnnamedFiles(), for x86-64."""
import ctypes
import errno
import os
import struct
import sys

LD_W_ABS, JMP_JEQ_K, JMP_JA, JMP_JSET_K, RET_K = 0x20, 0x15, 0x05, 0x45, 0x06
ALLOW, ERRNO = 0x7FFF0000, 0x00050000
ARCH_X86_64, NR_OPEN, NR_OPENAT = 0xC000003E, 2, 257
TMPFILE_BIT = 0o20000000  # O_TMPFILE without its O_DIRECTORY

FILTER = [
    (LD_W_ABS, 0, 0, 4),  # seccomp_data.arch
    (JMP_JEQ_K, 1, 0, ARCH_X86_64),
    (RET_K, 0, 0, ALLOW),
    (LD_W_ABS, 0, 0, 0),  # seccomp_data.nr
    (JMP_JEQ_K, 2, 0, NR_OPENAT),
    (JMP_JEQ_K, 3, 0, NR_OPEN),
    (RET_K, 0, 0, ALLOW),
    (LD_W_ABS, 0, 0, 16 + 2 * 8),  # openat's flags, the low half
    (JMP_JA, 0, 0, 1),
    (LD_W_ABS, 0, 0, 16 + 1 * 8),  # open's flags
    (JMP_JSET_K, 0, 1, TMPFILE_BIT),
    (RET_K, 0, 0, ERRNO | errno.EOPNOTSUPP),
    (RET_K, 0, 0, ALLOW),
]


def refuse_unnamed_files():
    code = b"".join(struct.pack("=HBBI", *op) for op in FILTER)
    buffer = ctypes.create_string_buffer(code)

    class SockFprog(ctypes.Structure):
        _fields_ = [("len", ctypes.c_ushort), ("filter", ctypes.c_void_p)]

    program = SockFprog(len(FILTER), ctypes.addressof(buffer))
    libc = ctypes.CDLL(None, use_errno=True)
    pr_set_no_new_privs, pr_set_seccomp, seccomp_mode_filter = 38, 22, 2
    if libc.prctl(pr_set_no_new_privs, 1, 0, 0, 0) != 0 or libc.prctl(
        pr_set_seccomp, seccomp_mode_filter, ctypes.byref(program), 0, 0
    ) != 0:
        sys.exit(f"{sys.argv[0]}: seccomp: {os.strerror(ctypes.get_errno())}")
    # The filter must be in effect, or the run would test nothing it claims to.
    try:
        os.close(os.open(".", os.O_TMPFILE | os.O_WRONLY))
    except OSError as error:
        if error.errno == errno.EOPNOTSUPP:
            return
    sys.exit(f"{sys.argv[0]}: O_TMPFILE is still allowed")


refuse_unnamed_files()
os.execv(sys.argv[1], sys.argv[1:])
