package com.jor.wrapper;

import java.io.File;
import javax.xml.parsers.DocumentBuilderFactory;
import org.w3c.dom.Document;
import org.w3c.dom.Element;
import org.w3c.dom.Node;
import org.w3c.dom.NodeList;

/**
 * Checks the shape of a speaker list: usage {@code SpeakerListCheck <xml file> <seconds>}. Turns
 * must be on the 4-second grid, in order, not overlapping, and inside the recording. Exits 0 when
 * the list is sound, 1 otherwise.
 */
public class SpeakerListCheck {
  public static void main(String[] args) throws Exception {
    if (args.length != 2) {
      System.err.println("usage: SpeakerListCheck <xml file> <recording seconds>");
      System.exit(2);
    }
    int seconds = Integer.parseInt(args[1]);
    Document doc =
        DocumentBuilderFactory.newInstance().newDocumentBuilder().parse(new File(args[0]));
    Element root = doc.getDocumentElement();
    require("speakerList".equals(root.getTagName()), "root is " + root.getTagName());
    NodeList children = root.getChildNodes();
    int previousEnd = 0;
    int turns = 0;
    for (int i = 0; i < children.getLength(); ++i) {
      Node node = children.item(i);
      if (node.getNodeType() == Node.TEXT_NODE) {
        require(node.getTextContent().trim().isEmpty(), "text inside speakerList");
        continue;
      }
      require(node.getNodeType() == Node.ELEMENT_NODE, "unexpected node " + node);
      Element speaker = (Element) node;
      require("speaker".equals(speaker.getTagName()), "element " + speaker.getTagName());
      require(speaker.getAttributes().getLength() == 3, "attributes of turn " + turns);
      require(!speaker.getAttribute("name").isEmpty(), "empty name");
      int start = Integer.parseInt(speaker.getAttribute("start"));
      int end = Integer.parseInt(speaker.getAttribute("end"));
      require(start % 4 == 0 && end % 4 == 0, "off the 4-s grid: " + start + "-" + end);
      require(start < end, "empty turn " + start + "-" + end);
      require(start >= previousEnd, "out of order at " + start);
      require(end <= seconds, "beyond the recording: " + end);
      previousEnd = end;
      ++turns;
    }
    System.out.println(turns + " turns, last ending at " + previousEnd + " s");
  }

  private static void require(boolean ok, String what) {
    if (!ok) {
      System.err.println("speaker list: " + what);
      System.exit(1);
    }
  }
}
