#!/usr/bin/env python3
"""The port trace of one ru3 run in the real-kernel guest against the same
run on the faked kernel, and the writes that reached QEMU's port (the shim's
log) against the writes the library made in the guest.

    compare_traces.py GUEST_TRACE FAKE_TRACE SHIM_WRITES

Prints "TRACE ..." lines; exits 1 on a difference nothing explains:
  - the library's writes must be the same in both runs;
  - reads may differ only in status bit 0 (QEMU's device answers its own EPP
    time-out flag there, 0) and in how often a poll repeats (time differs);
  - a library write may be missing at the port only where it repeats the
    value last written to that register (QEMU's device skips those), and the
    port may have more writes only from the kernel: parport_pc's probes
    before the first of the library's, a claim's restore of the control
    register, and the lp driver's.
"""
import itertools
import sys


def load(path):
    lines = []
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) == 3 and parts[0] in "IO":
                lines.append((parts[0], int(parts[1], 16), int(parts[2], 16)))
    return lines


def collapsed(lines):
    """Repeats of one read in a row (a poll) counted once."""
    return [k for k, _ in itertools.groupby(lines)]


def main(guest_path, fake_path, shim_path):
    guest, fake, shim = load(guest_path), load(fake_path), load(shim_path)
    ok = True
    gw = [l for l in guest if l[0] == "O"]
    fw = [l for l in fake if l[0] == "O"]
    same_writes = gw == fw
    ok &= same_writes
    print(f"TRACE library writes: guest {len(gw)}, fake {len(fw)}: {'equal' if same_writes else 'DIFFERENT'}")

    def masked(lines):
        return [(k, a, v & 0xFE if a & 3 == 1 else v) for k, a, v in lines]

    status_bit0 = sum(1 for k, a, v in guest if k == "I" and a & 3 == 1 and v & 1)
    fake_bit0 = sum(1 for k, a, v in fake if k == "I" and a & 3 == 1 and v & 1)
    same_reads = collapsed(masked(guest)) == collapsed(masked(fake))
    ok &= same_reads
    print(f"TRACE reads: guest {len(guest) - len(gw)}, fake {len(fake) - len(fw)}; status bit 0 set in "
          f"{status_bit0} guest and {fake_bit0} fake reads; "
          f"{'equal but for status bit 0 and poll repeats' if same_reads else 'DIFFERENT beyond status bit 0 and poll repeats'}")

    # The library's writes as a subsequence of what reached the port. The
    # kernel keeps the control register's bits 4-7 its own (a ppdev claim on
    # a port with an IRQ sets bit 4): control bytes compare in bits 0-3. The
    # library's first two writes (data, then control bits 0-3 all 0) come
    # after the kernel's probes, which never leave those bits 0.
    def m(w):
        return (w[0], w[1], w[2] & 0x0F if w[1] & 3 == 2 else w[2])

    gw = [m(w) for w in gw]
    shim = [m(w) for w in shim]
    i = next((j for j in range(len(shim) - 1) if shim[j:j + 2] == gw[:2]), len(shim))
    state = {}  # each register's value at the port, as the shim saw it
    for w in shim[:i]:
        state[w[1]] = w[2]
    before = None
    between = dropped = 0
    unexplained = []
    for w in gw:
        if not (i < len(shim) and shim[i] == w) and state.get(w[1]) == w[2]:
            dropped += 1  # QEMU's device skips a write of the value it has
            continue
        # The kernel's own writes come a few at a time (a claim's restore);
        # only its probes at load come before the library's first.
        j = i
        limit = len(shim) if before is None else min(len(shim), i + 16)
        while j < limit and shim[j] != w:
            j += 1
        if j == limit:
            unexplained.append(w)
            continue
        for extra in shim[i:j]:
            state[extra[1]] = extra[2]
        if before is None:
            before = j
        else:
            between += j - i
        state[w[1]] = w[2]
        i = j + 1
    before = before or 0
    after = len(shim) - i
    ok &= not unexplained
    print(f"TRACE at QEMU's port: {len(shim)} writes: {before} by the kernel before the library's first, "
          f"{between} more by the kernel among the library's, {after} after its last; "
          f"{dropped} of the library's skipped by QEMU as repeats; {len(unexplained)} unexplained")
    for w in unexplained[:5]:
        print(f"TRACE unexplained: {w[0]} {w[1]:04X} {w[2]:02X}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
