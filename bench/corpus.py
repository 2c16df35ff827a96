"""The texts the bench reads: the license texts every Debian machine has, cut to sizes, and
the same words as a book in plain text and EPUB."""
import re
import subprocess
from pathlib import Path

SIZES = {"35 KB": 35_000, "200 KB": 200_000, "2 MB": 2_000_000}


def make_corpus(directory):
    licenses = sorted(Path("/usr/share/common-licenses").iterdir())
    text = "\n\n".join(p.read_text(encoding="utf-8", errors="replace")
                       for p in licenses if p.is_file())
    corpus = {}
    for label, size in SIZES.items():
        body = (text * (size // len(text) + 1))[:size]
        body = body[:body.rfind("\n") + 1]
        path = directory / f"corpus-{size}.txt"
        path.write_text(body, encoding="utf-8")
        corpus[label] = path
    return corpus


def make_book(text, scratch, chapters=5):
    """The text as paragraphs under a few chapter headings: as plain text, and as an EPUB
    made from the same words by pandoc. Returns both paths."""
    paragraphs = [" ".join(block.split()) for block in text.read_text(encoding="utf-8").split("\n\n")]
    paragraphs = [p for p in paragraphs if p]
    every = len(paragraphs) // chapters + 1
    plain, markdown = [], []
    for index, paragraph in enumerate(paragraphs):
        if index % every == 0:
            heading = f"Chapter {index // every + 1}"
            plain.append(heading)
            markdown.append("# " + heading)
        plain.append(paragraph)
        # Every ASCII punctuation mark escaped: the words are read as they stand.
        markdown.append(re.sub(r"([!-/:-@\[-`{-~])", r"\\\1", paragraph))
    book = scratch / f"{text.stem}-book.txt"
    book.write_text("\n\n".join(plain) + "\n", encoding="utf-8")
    epub = scratch / f"{text.stem}-book.epub"
    subprocess.run(["pandoc", "-f", "markdown", "-t", "epub3", "--metadata", "title=Licenses",
                    "-o", str(epub)], input="\n\n".join(markdown) + "\n", text=True, check=True)
    return book, epub


def first_paragraphs(text, scratch, characters=2400):
    """The text's first paragraphs, about characters long: a few minutes of speech."""
    body = text.read_text(encoding="utf-8")
    path = scratch / f"{text.stem}-start.txt"
    path.write_text(body[:body.rfind("\n\n", 0, characters)] + "\n", encoding="utf-8")
    return path
