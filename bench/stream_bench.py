#!/usr/bin/env python3
"""Whole-process benchmark: N live H.264 channels against the replaying camera.

The simulated camera (quarnel sim --replay) plays a 1080p recording at 2 or
6 Mbit/s on every channel, paced per frame (key frames in one burst). Three
clients take N streams each, one after the other, over RTP/UDP and
interleaved on the RTSP connection, every one writing its frames to files:

  quarnel    `quarnel stream` with N channels: the driver in one host process
  ffmpeg     one `ffmpeg -rtsp_transport udp|tcp -i URL -c copy` process per stream
  gstreamer  one `gst-launch-1.0 rtspsrc ! rtph264depay ! h264parse ! filesink`
             process per stream

For each run, after a warm-up, it measures over a window: CPU-s per
stream-minute (all processes of the client), resident memory (sum of VmRSS)
and descriptors per stream, threads, the datagrams the kernel dropped on the
client's UDP sockets (/proc/net/udp; quarnel also reports its own, and the
sequence gaps its parser saw), and frames delivered against the frames the
camera sent to those sessions (the camera writes the count of each session
when it ends; quarnel counts its own frames, the other files are counted by
ffprobe). The machine's load average goes with each row: figures on a
shared machine are noisy.

Usage: bench/stream_bench.py [--build DIR] [--seconds W] [--quick] [--out FILE]
  --build DIR    build tree with bin/quarnel, libquarnel.so, quarnel-sim-rtsp
                 and replay/*.rtpstream (cmake --build ... --target replay_recordings)
  --seconds W    measuring window per run (default 12)
  --quick        a reduced matrix (N = 1 and 16 only)
  --matrix TEXT  runs as client:mbps:transport:N,... (e.g. quarnel:6:udp:16)
"""
import argparse
import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import time

TICK = os.sysconf("SC_CLK_TCK")
WORK = "/dev/shm/quarnel-stream-bench"


def full_matrix(quick):
    runs = []
    sizes_2m = [1, 16] if quick else [1, 16, 64, 128]
    sizes_6m = [1, 16]
    for transport in ("udp", "tcp"):
        for n in sizes_6m:
            runs.append(("quarnel", 6, transport, n))
        for n in sizes_2m:
            runs.append(("quarnel", 2, transport, n))
        for client in ("ffmpeg", "gstreamer"):
            runs.append((client, 6, transport, 1))
            runs.append((client, 6, transport, 16))
            runs.append((client, 2, transport, 16))
    return runs


def parse_matrix(text):
    runs = []
    for item in text.split(","):
        client, mbps, transport, n = item.split(":")
        runs.append((client, int(mbps), transport, int(n)))
    return runs


def cpu_seconds(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / TICK  # utime, stime
    except OSError:
        return 0.0


def status_value(pid, key):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def socket_inodes(pid):
    inodes = set()
    try:
        for fd in os.listdir(f"/proc/{pid}/fd"):
            try:
                target = os.readlink(f"/proc/{pid}/fd/{fd}")
            except OSError:
                continue
            if target.startswith("socket:["):
                inodes.add(target[8:-1])
    except OSError:
        pass
    return inodes


def descriptor_count(pid):
    try:
        return len(os.listdir(f"/proc/{pid}/fd"))
    except OSError:
        return 0


def udp_drops():
    """Drops per socket inode, from /proc/net/udp and udp6."""
    drops = {}
    for name in ("/proc/net/udp", "/proc/net/udp6"):
        try:
            with open(name) as f:
                next(f)
                for line in f:
                    cols = line.split()
                    drops[cols[9]] = int(cols[12])
        except OSError:
            pass
    return drops


def load_average():
    with open("/proc/loadavg") as f:
        return float(f.read().split()[0])


class Camera:
    """quarnel sim --replay, its banner read for the ports; its standard error
    (where each replaying session leaves its count of frames sent) goes to a file."""

    def __init__(self, quarnel, recording, channels, log_path):
        self.log_path = log_path
        self.log = open(log_path, "w")
        self.process = subprocess.Popen(
            [quarnel, "sim", "--channels", str(channels), "--replay", recording],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.log, text=True)
        self.http = self.rtsp = None
        deadline = time.time() + 120
        for line in self.process.stdout:
            m = re.search(r"HTTP\s+http://127\.0\.0\.1:(\d+)/", line)
            if m:
                self.http = int(m.group(1))
            m = re.search(r"RTSP\s+rtsp://127\.0\.0\.1:(\d+)/", line)
            if m and not self.rtsp:
                self.rtsp = int(m.group(1))
            if line.startswith("Running") or time.time() > deadline:
                break
        if not self.http or not self.rtsp:
            self.stop()
            raise RuntimeError("the simulated camera did not come up (see %s)" % log_path)
        # Keep reading its output so that it never blocks on a full pipe.
        import threading
        threading.Thread(target=lambda: [None for _ in self.process.stdout], daemon=True).start()

    def sent_frames(self):
        """Frames, sessions and the seconds they sent for, from the counts written so far."""
        with open(self.log_path) as f:
            counts = [(int(m.group(1)), float(m.group(2)))
                      for m in re.finditer(r"replay ssrc=\w+ sent (\d+) frames, \d+ packets in ([\d.]+) s", f.read())]
        return sum(c[0] for c in counts), len(counts), sum(c[1] for c in counts)

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGINT)
            try:
                self.process.wait(20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.log.close()


def count_frames(path):
    """Frames in an H.264 file, by FFmpeg's parser (no decoding)."""
    run = subprocess.run(["ffprobe", "-v", "error", "-count_packets", "-select_streams", "v:0", "-show_entries",
                          "stream=nb_read_packets", "-of", "csv=p=0", path], capture_output=True, text=True)
    try:
        return int(run.stdout.strip().splitlines()[0].strip(","))
    except (ValueError, IndexError):
        return 0


def start_clients(client, quarnel, camera, transport, n, out_dir):
    """The client's processes: one for quarnel, one per stream for the others."""
    procs = []
    if client == "quarnel":
        args = [quarnel, "stream", "--address", "127.0.0.1", "--port", str(camera.http), "--user", "admin",
                "--password", "admin", "--codec", "h264", "--channels", str(n), "--param", "2=0", "--param", "4=1",
                "--transport", "udp" if transport == "udp" else "interleaved", "--out", f"{out_dir}/q.h264"]
        for i in range(n):
            args += ["--channel", str(i)]
        log = open(f"{out_dir}/quarnel.log", "w")
        procs.append(subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT))
        return procs
    for i in range(n):
        url = f"rtsp://127.0.0.1:{camera.rtsp}/{i + 1}/stream1"
        out = f"{out_dir}/{client}-{i}.h264"
        if client == "ffmpeg":
            args = ["ffmpeg", "-nostdin", "-v", "error", "-rtsp_transport", transport, "-i", url, "-c", "copy",
                    "-f", "h264", "-y", out]
        else:
            args = ["gst-launch-1.0", "-q", "-e", "rtspsrc", f"location={url}", f"protocols={transport}", "!",
                    "rtph264depay", "!", "h264parse", "!", "video/x-h264,stream-format=byte-stream,alignment=au",
                    "!", "filesink", f"location={out}"]
        procs.append(subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL))
    return procs


def streams_writing(out_dir):
    """Output files that hold something."""
    return sum(1 for path in glob.glob(f"{out_dir}/*.h264") if os.path.getsize(path) > 0)


def quarnel_results(out_dir):
    """Frames, kernel drops and sequence gaps from the final lines of quarnel stream."""
    frames = drops = gaps = 0
    with open(f"{out_dir}/quarnel.log", errors="replace") as f:
        text = f.read()
    tail = text[text.rfind("stream ended after"):] if "stream ended after" in text else ""
    for m in re.finditer(r"\[ch \d+\] (?:stopped|not started)\s+(\d+) frames.*?(?:kernel drops (\d+), sequence gaps (\d+))?$",
                         tail, re.M):
        frames += int(m.group(1))
        drops += int(m.group(2) or 0)
        gaps += int(m.group(3) or 0)
    return frames, drops, gaps


def run_one(client, mbps, transport, n, quarnel, camera, window):
    shutil.rmtree(WORK + "/run", ignore_errors=True)
    out_dir = WORK + "/run"
    os.makedirs(out_dir)
    sent_before, sessions_before, seconds_before = camera.sent_frames()
    procs = start_clients(client, quarnel, camera, transport, n, out_dir)
    # Set-up: until every stream has written frames (a loaded machine starts
    # processes slowly), then a little longer.
    deadline = time.time() + 60
    while time.time() < deadline and streams_writing(out_dir) < n:
        time.sleep(0.5)
    time.sleep(2)
    pids = [p.pid for p in procs]
    cpu1 = sum(cpu_seconds(pid) for pid in pids)
    camera_cpu1 = cpu_seconds(camera.process.pid) + sum(
        cpu_seconds(int(c)) for c in children(camera.process.pid))
    t1 = time.time()
    time.sleep(window)
    cpu2 = sum(cpu_seconds(pid) for pid in pids)
    camera_cpu2 = cpu_seconds(camera.process.pid) + sum(
        cpu_seconds(int(c)) for c in children(camera.process.pid))
    t2 = time.time()
    rss_kb = sum(status_value(pid, "VmRSS") for pid in pids)
    threads = sum(status_value(pid, "Threads") for pid in pids)
    fds = sum(descriptor_count(pid) for pid in pids)
    drops_now = udp_drops()
    kernel_drops = sum(drops_now.get(inode, 0) for pid in pids for inode in socket_inodes(pid))
    load = load_average()
    alive = sum(1 for p in procs if p.poll() is None)
    for p in procs:
        if p.poll() is None:
            p.send_signal(signal.SIGINT)
    for p in procs:
        try:
            p.wait(30)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()
    # The camera writes each session's count when its media goes after TEARDOWN.
    deadline = time.time() + 15
    while time.time() < deadline:
        sent, sessions, _ = camera.sent_frames()
        if sessions - sessions_before >= n:
            break
        time.sleep(0.5)
    sent, sessions, session_seconds = camera.sent_frames()
    sent -= sent_before
    sessions -= sessions_before
    session_seconds -= seconds_before
    gaps = None
    if client == "quarnel":
        delivered, own_drops, gaps = quarnel_results(out_dir)
        kernel_drops = max(kernel_drops, own_drops)
    else:
        delivered = sum(count_frames(path) for path in glob.glob(f"{out_dir}/{client}-*.h264"))
    shutil.rmtree(out_dir, ignore_errors=True)
    seconds = t2 - t1
    return {
        "client": client, "mbps": mbps, "transport": "UDP" if transport == "udp" else "interleaved", "n": n,
        "cpu_per_stream_minute": (cpu2 - cpu1) / seconds * 60 / n,
        "rss_mb": rss_kb / 1024, "rss_per_stream": rss_kb / 1024 / n, "fds_per_stream": fds / n,
        "threads": threads, "kernel_drops": kernel_drops, "gaps": gaps, "delivered": delivered, "sent": sent,
        "sessions": sessions, "camera_fps": sent / session_seconds if session_seconds > 0 else 0,
        "alive": alive, "processes": len(procs), "load": load, "camera_cpu": (camera_cpu2 - camera_cpu1) / seconds,
    }


def children(pid):
    """Child processes of any of the process's threads (the camera's media
    process is spawned by a thread of its own)."""
    found = []
    for path in glob.glob(f"/proc/{pid}/task/*/children"):
        try:
            with open(path) as f:
                found += f.read().split()
        except OSError:
            pass
    return found


def row(r):
    share = 100.0 * r["delivered"] / r["sent"] if r["sent"] else 0
    gaps = "-" if r["gaps"] is None else str(r["gaps"])
    drops = str(r["kernel_drops"]) if r["transport"] == "UDP" else "-"
    note = "" if r["alive"] == r["processes"] else " (%d of %d processes ended early)" % (
        r["processes"] - r["alive"], r["processes"])
    if r["sessions"] != r["n"]:
        note += " (%d sessions counted)" % r["sessions"]
    return ("| {client} | {transport} | {mbps} | {n} | {cpu:.2f} | {rss:.1f} | {rssn:.2f} | {fds:.1f} | {threads} | "
            "{drops} | {gaps} | {delivered} / {sent} ({share:.1f} %) | {fps:.1f} | {camera:.0f} % | {load:.1f} |{note}").format(
        client=r["client"], transport=r["transport"], mbps=r["mbps"], n=r["n"], cpu=r["cpu_per_stream_minute"],
        rss=r["rss_mb"], rssn=r["rss_per_stream"], fds=r["fds_per_stream"], threads=r["threads"], drops=drops,
        gaps=gaps, delivered=r["delivered"], sent=r["sent"], share=share, fps=r["camera_fps"],
        camera=100 * r["camera_cpu"],
        load=r["load"], note=note)


HEADER = ("| client | transport | Mbit/s | N | CPU-s per stream-minute | RSS MB | RSS MB per stream | "
          "descriptors per stream | threads | kernel drops | sequence gaps | frames delivered / sent | "
          "camera frames/s per stream | camera CPU | load |\n|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(os.path.dirname(__file__), "..", "build", "default"))
    parser.add_argument("--seconds", type=float, default=12)
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--matrix")
    parser.add_argument("--out")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    quarnel = os.path.join(build, "bin", "quarnel")
    recordings = {2: os.path.join(build, "replay", "h264_1080p_2m.rtpstream"),
                  6: os.path.join(build, "replay", "h264_1080p_6m.rtpstream")}
    for path in [quarnel] + list(recordings.values()):
        if not os.path.exists(path):
            sys.exit("stream_bench: %s is missing: build quarnel, quarnel-cli, quarnel-sim-rtsp and "
                     "replay_recordings first" % path)
    for tool in ("ffmpeg", "ffprobe", "gst-launch-1.0"):
        if not shutil.which(tool):
            sys.exit("stream_bench: %s is not installed" % tool)
    runs = parse_matrix(args.matrix) if args.matrix else full_matrix(args.quick)
    os.makedirs(WORK, exist_ok=True)
    lines = []
    started = time.time()
    print("%d cores, load %.1f at the start; window %.0f s per run" % (os.cpu_count(), load_average(), args.seconds),
          file=sys.stderr)
    for mbps in sorted({r[1] for r in runs}):
        channels = max(r[3] for r in runs if r[1] == mbps)
        camera = Camera(quarnel, recordings[mbps], channels, f"{WORK}/camera-{mbps}.log")
        try:
            for client, rate, transport, n in runs:
                if rate != mbps:
                    continue
                result = run_one(client, mbps, transport, n, quarnel, camera, args.seconds)
                lines.append(row(result))
                print(lines[-1], file=sys.stderr, flush=True)
        finally:
            camera.stop()
    text = ("Whole-process benchmark, %s, %d cores, 1080p H.264 replayed at 25 frames/s "
            "(~2 Mbit/s: 72 KB key frames; ~6 Mbit/s: 102 KB key frames, each in one burst); "
            "window %.0f s per run, %.0f s in all.\n\n%s\n%s\n") % (
        time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()), os.cpu_count(), args.seconds, time.time() - started,
        HEADER, "\n".join(lines))
    print(text)
    if args.out:
        with open(args.out, "w") as f:
            f.write(text)


if __name__ == "__main__":
    main()
