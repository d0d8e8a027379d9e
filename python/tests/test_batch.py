"""python3 -m lumetra.batch: every pair exactly once with the command line's values, whatever
the interruption, and unusable manifests refused before any work."""

from __future__ import annotations

import csv
import io
import os
import shutil
import signal
import subprocess
import sys
from pathlib import Path
from typing import Callable

import pytest

from commandline import as_float32
from daskservices import DaskServices, dask_services
from lumetra.batch import EXIT_FAILURE, EXIT_SUCCESS, EXIT_USAGE, Progress, main

DEGRADATIONS = ("copy", "noise", "blur", "blocks", "hue")
ORIGINALS = ("scene64", "scene97x64", "scene128x96")
# The longest a batch and the cluster it runs on may take before the test kills them all.
CLUSTER_TIMEOUT_SECONDS = 120


def make_manifest(golden: Path, folder: Path, copies: int) -> tuple[Path, list[tuple[str, str]]]:
    """A manifest of every golden original with `copies` copies of each of its degraded
    files, with paths relative to the manifest; returns it and its pairs as written."""
    images = folder / "images"
    images.mkdir()
    pairs = []
    for stem in ORIGINALS:
        shutil.copy(golden / f"{stem}.ppm", images)
        for d in DEGRADATIONS:
            for k in range(copies):
                shutil.copy(golden / f"{stem}__{d}.ppm", images / f"{stem}__{d}-{k}.ppm")
                pairs.append((f"images/{stem}.ppm", f"images/{stem}__{d}-{k}.ppm"))
    manifest = folder / "manifest.csv"
    with open(manifest, "w", newline="") as text:
        csv.writer(text).writerows([("reference", "degraded"), *pairs])
    return manifest, pairs


def command_line_values(command_line, folder: Path, pairs) -> dict[tuple[str, str], tuple]:
    """(measure, score) of every pair, as the command line gives them."""
    values = {}
    for stem in ORIGINALS:
        mine = [pair for pair in pairs if pair[0] == f"images/{stem}.ppm"]
        rows = command_line.rows(folder / mine[0][0], [folder / d for _, d in mine])
        for pair, row in zip(mine, rows):
            values[pair] = (as_float32(row["measure"]), as_float32(row["score"]))
    return values


def read_results(path: Path) -> list[dict]:
    with open(path, newline="") as text:
        return list(csv.DictReader(text))


def assert_every_pair_once(results, pairs, values) -> None:
    assert [(row["reference"], row["degraded"]) for row in results] == pairs
    for row in results:
        pair = (row["reference"], row["degraded"])
        assert row["error"] == "", row
        assert (as_float32(row["measure"]), as_float32(row["score"])) == values[pair], pair


def batch_on(services: DaskServices, manifest: Path, out: Path,
             first_pair_done: Callable[[], None]) -> tuple[int, list[str]]:
    """Runs python3 -m lumetra.batch on the services' cluster, one pair a task, and calls
    `first_pair_done` once, as soon as the first pair is scored; returns the batch's exit
    status and the lines it wrote to stderr."""
    batch = services.start("lumetra.batch", str(manifest), "--out", str(out), "--scheduler",
                           services.address, "--chunk-size", "1", "--verbose",
                           stderr=subprocess.PIPE)
    said = []
    called = False
    for line in batch.stderr:
        said.append(line)
        if not called and " pairs, " in line:  # the first progress line
            first_pair_done()
            called = True
    status = batch.wait()
    assert called, "".join(said)
    return status, said


def test_a_batch_on_a_cluster_survives_a_dead_worker(golden, command_line, tmp_path):
    manifest, pairs = make_manifest(golden, tmp_path, copies=2)  # 30 pairs
    values = command_line_values(command_line, tmp_path, pairs)
    out = tmp_path / "results.csv"
    with dask_services(workers=2, timeout_seconds=CLUSTER_TIMEOUT_SECONDS) as services:
        # One worker dies in the middle of the batch.
        status, said = batch_on(services, manifest, out,
                                lambda: services.workers[0].send_signal(signal.SIGKILL))
    assert status == EXIT_SUCCESS, "".join(said)
    assert_every_pair_once(read_results(out), pairs, values)


# --low-memory gives the command line's values to the last bit as well.
@pytest.mark.parametrize("mode", [[], ["--low-memory"]])
def test_a_resumed_local_batch_keeps_whole_lines_and_sorts(golden, command_line, tmp_path, mode):
    manifest, pairs = make_manifest(golden, tmp_path, copies=1)
    values = command_line_values(command_line, tmp_path, pairs)
    out = tmp_path / "results.csv"
    # An interrupted earlier run: two whole lines out of order (one with a value this run
    # would not give, to show that it is kept, not scored again) and a line cut short.
    kept = pairs[4]
    values[kept] = (as_float32("123"), values[kept][1])
    out.write_text(
        "reference,degraded,measure,score,error\n"
        f"{pairs[9][0]},{pairs[9][1]},{values[pairs[9]][0]:.9g},{values[pairs[9]][1]:.9g},\n"
        f"{kept[0]},{kept[1]},123,{values[kept][1]:.9g},\n"
        f"{pairs[0][0]},{pairs[0][1]},73"
    )
    status = main([str(manifest), "--out", str(out), "--resume", "--workers", "2", *mode])
    assert status == EXIT_SUCCESS
    assert_every_pair_once(read_results(out), pairs, values)


# Manifests that must be refused before any work, and a word of each message.
BAD_MANIFESTS = {
    "missing column": ("reference,image\na.png,b.png\n", "no column degraded"),
    "extra field": ("reference,degraded\na.png,b.png,c.png\n", "manifest.csv:2"),
    "empty path": ("reference,degraded\na.png,b.png\na.png,\n", "manifest.csv:3"),
    "no pairs": ("reference,degraded\n", "no pairs"),
    "not text": (b"reference,degraded\n\xff\xfe,b\n", "manifest.csv"),
}


@pytest.mark.parametrize("case", BAD_MANIFESTS)
def test_unusable_manifests_are_refused_before_any_work(tmp_path, capsys, case):
    content, word = BAD_MANIFESTS[case]
    manifest = tmp_path / "manifest.csv"
    if isinstance(content, bytes):
        manifest.write_bytes(content)
    else:
        manifest.write_text(content)
    out = tmp_path / "results.csv"
    with pytest.raises(SystemExit) as exited:
        main([str(manifest), "--out", str(out)])
    assert exited.value.code == EXIT_USAGE
    assert word in capsys.readouterr().err
    assert not out.exists()


def test_a_failed_pair_is_an_error_row_and_the_batch_goes_on(golden, tmp_path, caplog):
    manifest = tmp_path / "manifest.csv"
    manifest.write_text(
        "reference,degraded\n"
        f"{golden / 'scene64.ppm'},missing.ppm\n"
        f"{golden / 'scene64.ppm'},{golden / 'scene64__noise.ppm'}\n"
    )
    out = tmp_path / "results.csv"
    assert main([str(manifest), "--out", str(out), "--workers", "1"]) == EXIT_FAILURE
    failed, scored = read_results(out)
    assert "missing.ppm" in failed["error"] and failed["measure"] == ""
    # The command line's measure of this pair (tests/data/golden/expected.tsv).
    assert scored["error"] == "" and as_float32(scored["measure"]) == as_float32("736.982361")
    assert not os.path.exists(str(out) + ".sorting")
    # The failure is said on stderr (the log's warnings), not only in the file.
    assert [(r.levelname, r.getMessage()) for r in caplog.records if r.name == "lumetra.batch"] == [
        ("WARNING", f"1 of 2 pairs failed; see the error column of {out}")]


def test_progress_off_a_terminal_is_a_log_line_every_few_seconds():
    # A clock the test moves: tasks finish at 0, 1, 2, ... 11 seconds; lines come at most
    # every 5 seconds, none on a terminal (which is redrawn in place instead).
    now = [0.0]
    log_file = io.StringIO()
    progress = Progress(12, 0, log_file, interval=5.0, clock=lambda: now[0])
    for second in range(1, 13):
        now[0] = float(second)
        progress.advance(1)
    progress.close()
    assert log_file.getvalue().splitlines() == [
        "lumetra.batch: 5/12 pairs, 1.0 pairs/s, 7 s left",
        "lumetra.batch: 10/12 pairs, 1.0 pairs/s, 2 s left",
    ]


def test_rows_naming_unusable_files_become_error_rows_and_resume_keeps_them(golden, tmp_path):
    folder = tmp_path / "folder.ppm"
    folder.mkdir()
    fifo = tmp_path / "pipe.ppm"
    os.mkfifo(fifo)
    weird = tmp_path / 'a "quoted", line\nbroken näme.ppm'
    shutil.copy(golden / "scene64__noise.ppm", weird)
    reference = golden / "scene64.ppm"
    # (reference, degraded, a word of the error; "" for a pair that scores)
    rows = [
        (reference, folder, "is a directory"),
        (reference, fifo, "not a regular file"),
        (reference, tmp_path / "nowhere" / "missing.ppm", "no such file"),
        (reference, tmp_path / ("x" * 300 + ".ppm"), "File name too long"),
        (folder, golden / "scene64__noise.ppm", "reference: "),
        (tmp_path / "missing-reference.ppm", golden / "scene64__noise.ppm", "reference: "),
        (reference, weird, ""),
    ]
    manifest = tmp_path / "manifest.csv"
    with open(manifest, "w", newline="") as text:
        csv.writer(text).writerows(
            [("reference", "degraded"), *((str(r), str(d)) for r, d, _ in rows)]
        )
    out = tmp_path / "results.csv"
    assert main([str(manifest), "--out", str(out), "--workers", "1"]) == EXIT_FAILURE
    results = read_results(out)
    assert [(row["reference"], row["degraded"]) for row in results] == [
        (str(r), str(d)) for r, d, _ in rows
    ]
    for row, (_, _, word) in zip(results, rows):
        if word:
            assert word in row["error"] and row["measure"] == "", row
        else:
            assert row["error"] == "" and as_float32(row["measure"]) == as_float32("736.982361")
    # Every line, the one with a line break in its path too, is read back whole: nothing is
    # scored again and nothing is lost.
    before = out.read_text()
    assert main([str(manifest), "--out", str(out), "--resume", "--workers", "1"]) == EXIT_FAILURE
    assert out.read_text() == before


# A file stops growing at this many bytes in the batch below (RLIMIT_FSIZE): the header and a
# few lines fit, the rest does not.
RESULTS_SIZE_LIMIT = 700


def _limit_file_size() -> None:
    import resource

    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)  # a write past the limit fails with EFBIG
    resource.setrlimit(resource.RLIMIT_FSIZE, (RESULTS_SIZE_LIMIT, RESULTS_SIZE_LIMIT))


def test_results_that_cannot_be_written_stop_with_whole_lines_that_resume_completes(
    golden, command_line, tmp_path
):
    manifest, pairs = make_manifest(golden, tmp_path, copies=1)  # 15 pairs, about 1.5 kB
    values = command_line_values(command_line, tmp_path, pairs)
    out = tmp_path / "results.csv"
    stopped = subprocess.run(
        [sys.executable, "-m", "lumetra.batch", str(manifest), "--out", str(out),
         "--workers", "1", "--chunk-size", "1"],
        capture_output=True, text=True, preexec_fn=_limit_file_size,
        timeout=CLUSTER_TIMEOUT_SECONDS,
    )
    assert stopped.returncode == EXIT_FAILURE, stopped.stderr
    assert f"lumetra.batch: cannot write {out}: File too large\n" in stopped.stderr
    text = out.read_text()
    assert 0 < len(text) <= RESULTS_SIZE_LIMIT and text.endswith("\n")  # whole lines only
    kept = read_results(out)
    assert 0 < len(kept) < len(pairs) and all(row["error"] == "" for row in kept)
    assert sorted(path.name for path in tmp_path.iterdir()) == ["images", "manifest.csv",
                                                                 "results.csv"]
    assert main([str(manifest), "--out", str(out), "--resume", "--workers", "1"]) == EXIT_SUCCESS
    assert_every_pair_once(read_results(out), pairs, values)


def test_results_linked_to_a_full_device_are_refused_before_any_work(golden, tmp_path, capsys):
    manifest = tmp_path / "manifest.csv"
    manifest.write_text(f"reference,degraded\n{golden / 'scene64.ppm'},{golden / 'scene64.ppm'}\n")
    out = tmp_path / "results.csv"
    out.symlink_to("/dev/full")  # a full disk; the device itself is never the target
    with pytest.raises(SystemExit) as exited:
        main([str(manifest), "--out", str(out), "--workers", "1"])
    assert exited.value.code == EXIT_USAGE
    assert capsys.readouterr().err == f"lumetra.batch: cannot write {out}: No space left on device\n"
    assert out.is_symlink() and Path("/dev/full").is_char_device()
    assert sorted(path.name for path in tmp_path.iterdir()) == ["manifest.csv", "results.csv"]


def test_a_lost_scheduler_ends_the_batch_and_resume_completes_it(golden, command_line, tmp_path):
    manifest, pairs = make_manifest(golden, tmp_path, copies=2)  # 30 pairs
    values = command_line_values(command_line, tmp_path, pairs)
    out = tmp_path / "results.csv"
    with dask_services(workers=1, timeout_seconds=CLUSTER_TIMEOUT_SECONDS) as services:
        # The scheduler goes away in the middle of the batch.
        status, said = batch_on(services, manifest, out, services.scheduler.kill)
    assert status == EXIT_FAILURE, "".join(said)
    errors = [line for line in said if " pairs, " not in line]
    assert errors == [
        f"lumetra.batch: lost the Dask scheduler {services.address}; the pairs scored until "
        f"then are in {out}: run again with --resume to score the others\n"
    ], "".join(said)
    scored = read_results(out)
    assert 0 < len(scored) < len(pairs) and all(row["error"] == "" for row in scored)
    assert main([str(manifest), "--out", str(out), "--resume", "--workers", "2"]) == EXIT_SUCCESS
    assert_every_pair_once(read_results(out), pairs, values)


def test_colour_and_orientation_options_give_the_command_lines_rows_and_notices(
    command_line, tmp_path, caplog
):
    images = Path(os.environ["LUMETRA_TEST_DATA_DIR"]) / "images"
    original, p3, turned = (images / name for name in (
        "rgb24x16.ppm", "rgb24x16_display_p3.png", "rgb16x24_exif_orientation6.png"))
    manifest = tmp_path / "manifest.csv"
    manifest.write_text(f"reference,degraded\n{original},{p3}\n{original},{turned}\n")
    reading = ["--color", "srgb", "--orientation", "apply"]  # --color: the CLI's alias too
    out = tmp_path / "results.csv"
    assert main([str(manifest), "--out", str(out), "--workers", "1", *reading]) == EXIT_SUCCESS
    expected = command_line.rows(original, [p3, turned], *reading)
    assert [(as_float32(row["measure"]), as_float32(row["score"])) for row in
            read_results(out)] == [
        (as_float32(row["measure"]), as_float32(row["score"])) for row in expected]
    assert [r.getMessage() for r in caplog.records if r.name == "lumetra.batch"] == [
        f'"{turned}": declares EXIF orientation 6 (turned a quarter clockwise); turned for '
        "display"]

    # As stored (the default): the P3 file's notices, the second saying what its measure holds.
    caplog.clear()
    out.unlink()
    main([str(manifest), "--out", str(out), "--workers", "1"])
    said = [r.getMessage() for r in caplog.records if r.name == "lumetra.batch"]
    assert said[:2] == [
        f'"{p3}": declares colour profile ICC "Display P3", not sRGB; its samples are scored '
        "as stored",
        f'"{p3}": its colour space is ICC "Display P3" and the original\'s none (read as '
        "sRGB): the measure includes the colour change between them"]
