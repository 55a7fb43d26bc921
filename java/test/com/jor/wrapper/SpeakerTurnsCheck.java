package com.jor.wrapper;

import java.io.File;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.util.ArrayList;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Set;
import javax.xml.parsers.DocumentBuilderFactory;
import org.w3c.dom.Element;
import org.w3c.dom.NodeList;

/**
 * Checks a speaker list against the reference turns of the recording: usage {@code
 * SpeakerTurnsCheck <xml file> <reference tsv> <min share>}. The reference has a header and rows
 * "speaker, start, end" in seconds. Every listed turn must carry the name of a reference speaker
 * who talks during it (a turn across a change of speaker may name either), every reference
 * speaker must be named, and each speaker's own reference time must be named as that speaker for
 * at least the given share. Exits 0 when all holds, 1 otherwise.
 */
public class SpeakerTurnsCheck {
  private static final class Turn {
    final String name;
    final double start, end;

    Turn(String name, double start, double end) {
      this.name = name;
      this.start = start;
      this.end = end;
    }

    String name() { return name; }

    double start() { return start; }

    double end() { return end; }
  }

  public static void main(String[] args) throws Exception {
    if (args.length != 3) {
      System.err.println("usage: SpeakerTurnsCheck <xml file> <reference tsv> <min share>");
      System.exit(2);
    }
    List<Turn> reference = readReference(new File(args[1]));
    double minShare = Double.parseDouble(args[2]);
    List<Turn> listed = readList(new File(args[0]));

    boolean ok = true;
    for (Turn t : listed) {
      Set<String> talking = new LinkedHashSet<>();
      for (Turn r : reference) {
        if (overlap(t, r) > 0)
          talking.add(r.name());
      }
      if (!talking.contains(t.name())) {
        System.err.printf("turn %s %.0f-%.0f: the reference has %s there%n", t.name(), t.start(),
            t.end(), talking);
        ok = false;
      }
    }
    Set<String> speakers = new LinkedHashSet<>();
    for (Turn r : reference) speakers.add(r.name());
    for (String speaker : speakers) {
      double own = 0, named = 0;
      for (Turn r : reference) {
        if (!r.name().equals(speaker))
          continue;
        own += r.end() - r.start();
        for (Turn t : listed) {
          if (t.name().equals(speaker))
            named += overlap(t, r);
        }
      }
      double share = own > 0 ? named / own : 0;
      System.out.printf("%s: %.0f of %.0f s named (%.0f%%)%n", speaker, named, own, 100 * share);
      if (share < minShare || named == 0) {
        System.err.printf("%s: named for %.0f%% of its time, %.0f%% needed%n", speaker, 100 * share,
            100 * minShare);
        ok = false;
      }
    }
    System.exit(ok ? 0 : 1);
  }

  private static double overlap(Turn a, Turn b) {
    return Math.max(0, Math.min(a.end(), b.end()) - Math.max(a.start(), b.start()));
  }

  private static List<Turn> readReference(File file) throws Exception {
    List<Turn> out = new ArrayList<>();
    List<String> lines = Files.readAllLines(file.toPath(), StandardCharsets.UTF_8);
    for (String line : lines.subList(Math.min(1, lines.size()), lines.size())) {
      if (line.isBlank())
        continue;
      String[] f = line.split("\t");
      if (f.length < 3)
        throw new IllegalArgumentException("reference row: " + line);
      out.add(new Turn(f[0], Double.parseDouble(f[1]), Double.parseDouble(f[2])));
    }
    return out;
  }

  private static List<Turn> readList(File file) throws Exception {
    Element root =
        DocumentBuilderFactory.newInstance().newDocumentBuilder().parse(file).getDocumentElement();
    if (!"speakerList".equals(root.getTagName())) {
      System.err.println("root is " + root.getTagName());
      System.exit(1);
    }
    List<Turn> out = new ArrayList<>();
    NodeList nodes = root.getElementsByTagName("speaker");
    for (int i = 0; i < nodes.getLength(); ++i) {
      Element e = (Element) nodes.item(i);
      out.add(new Turn(e.getAttribute("name"), Double.parseDouble(e.getAttribute("start")),
          Double.parseDouble(e.getAttribute("end"))));
    }
    return out;
  }
}
