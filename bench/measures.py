"""What the bench measures of a sound beyond time: what a recogniser hears in it (word error
rate), how far a coded copy is from its source (SNR), and its loudness. Only Debian's tools:
ffmpeg, sox and PocketSphinx."""
import math
import re
import subprocess
import tempfile
from array import array
from pathlib import Path

MODEL = Path("/usr/share/pocketsphinx/model/en-us")
RECOGNISER = "pocketsphinx_continuous"


def audio_seconds(path):
    # soxi reads RF64 too; an espeak-ng file past 4 GiB has a wrapped header, so the
    # length of a pair is taken from its first file, ours.
    out = subprocess.run(["soxi", "-D", str(path)], capture_output=True, text=True)
    return float(out.stdout) if out.returncode == 0 else float("nan")


def decoded_samples(path, rate):
    """The sound of any file ffmpeg reads, as float mono samples at rate. ffmpeg honours an
    MP4 file's edit list, so an AAC file comes back without the encoder's priming samples."""
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", str(path), "-f", "f32le", "-ac", "1",
                          "-ar", str(rate), "-"], check=True, capture_output=True).stdout
    samples = array("f")
    samples.frombytes(raw)
    return samples


def onset(samples):
    """The first sample past a tenth of the loudest one: where the speech starts."""
    threshold = 0.1 * max(abs(s) for s in samples)
    return next(i for i, s in enumerate(samples) if abs(s) > threshold)


def squared_error(source, coded, lag, start, count):
    return sum((source[i] - coded[i + lag]) ** 2 for i in range(start, start + count))


def aligned_lag(source, coded, search=16):
    """The lag of coded against source with the smallest error over the second of speech
    around the source's loudest sample, searched within search samples either side of no
    lag and of the difference of the two onsets (a priming delay left untrimmed)."""
    loudest = max(range(len(source)), key=lambda i: abs(source[i]))
    guess = onset(coded) - onset(source)
    candidates = set(range(-search, search + 1)) | set(range(guess - search, guess + search + 1))
    start = max(0, -min(candidates), loudest - 11025)
    count = min(22050, len(source) - start, len(coded) - start - max(candidates))
    return min(sorted(candidates), key=lambda lag: squared_error(source, coded, lag, start, count))


def signal_to_noise(source_path, coded_path, rate):
    """SNR in dB of a coded file against its source, sample by sample once aligned; returns
    it and the lag found (0 when the decoder trimmed exactly the encoder's delay)."""
    source, coded = decoded_samples(source_path, rate), decoded_samples(coded_path, rate)
    lag = aligned_lag(source, coded)
    first = max(0, -lag)
    last = min(len(source), len(coded) - lag)
    signal = sum(s * s for s in source[first:last])
    noise = squared_error(source, coded, lag, first, last - first)
    return (10 * math.log10(signal / noise) if noise else math.inf), lag


def recognised_words(path, seconds=None):
    """PocketSphinx's words for a sound file (its first seconds if given): decoded by ffmpeg,
    resampled by sox to the 16 kHz 16-bit mono the acoustic model was trained on."""
    with tempfile.TemporaryDirectory(prefix="kestrova-asr-") as scratch:
        decoded, speech = Path(scratch) / "decoded.wav", Path(scratch) / "speech.wav"
        subprocess.run(["ffmpeg", "-v", "error", "-i", str(path)]
                       + ([] if seconds is None else ["-t", str(seconds)])
                       + ["-c:a", "pcm_s16le", str(decoded)], check=True)
        subprocess.run(["sox", "-V1", "-D", str(decoded), "-r", "16000", "-b", "16", "-c", "1", str(speech)],
                       check=True)
        heard = subprocess.run([RECOGNISER, "-infile", str(speech), "-hmm", str(MODEL / "en-us"),
                                "-lm", str(MODEL / "en-us.lm.bin"),
                                "-dict", str(MODEL / "cmudict-en-us.dict"), "-logfn", "/dev/null"],
                               check=True, capture_output=True, text=True).stdout
    return words(heard)


def words(text):
    """Lower-cased words, punctuation stripped (an apostrophe inside a word stays)."""
    return re.findall(r"[a-z0-9]+(?:'[a-z0-9]+)*", text.lower())


def word_error_rate(reference, heard):
    """Levenshtein distance on words over the reference's length, in percent."""
    previous = list(range(len(heard) + 1))
    for i, word in enumerate(reference, 1):
        current = [i]
        for j, other in enumerate(heard, 1):
            current.append(min(previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (word != other)))
        previous = current
    return 100 * previous[-1] / max(1, len(reference))


def integrated_loudness(path):
    """The integrated loudness in LUFS by ffmpeg's ebur128 filter (true peak on, as a
    mastering check would run it), read from the summary it prints at the end."""
    report = subprocess.run(["ffmpeg", "-hide_banner", "-nostats", "-i", str(path), "-af",
                             "ebur128=peak=true", "-f", "null", "-"],
                            check=True, capture_output=True, text=True).stderr
    summary = report[report.rfind("Summary:"):]
    return float(re.search(r"I:\s+(-?[0-9.]+) LUFS", summary).group(1))
