"""How long a command takes, as /usr/bin/time reports it."""
import subprocess
import tempfile


def timed(command):
    """Runs a command under /usr/bin/time; returns wall s, CPU s, peak KB."""
    with tempfile.NamedTemporaryFile("r", suffix=".time") as report:
        subprocess.run(["/usr/bin/time", "-f", "%e %U %S %M", "-o", report.name] + command,
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wall, user, system, peak = report.read().split()[-4:]
    return float(wall), float(user) + float(system), int(peak)
