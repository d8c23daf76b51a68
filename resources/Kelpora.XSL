<?xml version="1.0" encoding="UTF-8"?>
<!-- Turns the run log of an import (tmp.xml) into the HTML report log.html. The output is well-formed
     XHTML, because the program loads it as XML before storing it. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="xml" encoding="UTF-8" indent="yes" omit-xml-declaration="yes"/>

  <xsl:template match="/import">
    <html>
      <head>
        <meta http-equiv="Content-Type" content="text/html; charset=UTF-8"/>
        <title>Kelpora - Bericht zur Umsetzung</title>
        <style type="text/css">
          body { font-family: Tahoma, Verdana, sans-serif; font-size: 10pt; margin: 1.5em; }
          h1 { font-size: 14pt; }
          h2 { font-size: 11pt; margin-top: 1.5em; }
          table { border-collapse: collapse; }
          th, td { border: 1px solid #999; padding: 2px 8px; text-align: left; }
          th { background: #e4e8ee; }
          td.n { text-align: right; }
          tr.total td { font-weight: bold; border-top: 2px solid #555; }
        </style>
      </head>
      <body>
        <h1>Bericht zur Umsetzung vom <xsl:value-of select="date"/></h1>
        <h2>Ziel</h2>
        <table>
          <tr><th>Server</th><td><xsl:value-of select="output/server"/></td></tr>
          <tr><th>Datenbank</th><td><xsl:value-of select="output/database"/></td></tr>
        </table>

        <h2>Eingefügte Objekte</h2>
        <table>
          <tr><th>Objektart</th><th>Anzahl</th></tr>
          <xsl:for-each select="objects/*">
            <tr><td><xsl:value-of select="local-name()"/></td><td class="n"><xsl:value-of select="."/></td></tr>
          </xsl:for-each>
          <tr class="total">
            <td>Summe</td>
            <td class="n"><xsl:value-of select="sum(objects/*[number(.) = number(.)])"/></td>
          </tr>
        </table>

        <h2>Geladene Dateien</h2>
        <table>
          <tr>
            <th>Datei</th><th>Typ</th><th>Antragsnummer</th><th>Koordinatenreferenzsystem</th>
            <th>Portion</th><th>Portionen</th>
          </tr>
          <xsl:for-each select="files/file">
            <tr>
              <td><xsl:call-template name="cell"><xsl:with-param name="v" select="name"/></xsl:call-template></td>
              <td><xsl:call-template name="cell"><xsl:with-param name="v" select="@typ"/></xsl:call-template></td>
              <td><xsl:call-template name="cell"><xsl:with-param name="v" select="@antragsnr"/></xsl:call-template></td>
              <td><xsl:call-template name="cell"><xsl:with-param name="v" select="@koordrefsys"/></xsl:call-template></td>
              <td class="n"><xsl:call-template name="cell"><xsl:with-param name="v" select="lfdNr"/></xsl:call-template></td>
              <td class="n"><xsl:call-template name="cell"><xsl:with-param name="v" select="portionen"/></xsl:call-template></td>
            </tr>
          </xsl:for-each>
        </table>
      </body>
    </html>
  </xsl:template>
  <!-- A table cell's text; an empty value keeps the cell open for browsers that read the report as HTML. -->
  <xsl:template name="cell">
    <xsl:param name="v"/>
    <xsl:choose>
      <xsl:when test="string($v) != ''"><xsl:value-of select="$v"/></xsl:when>
      <xsl:otherwise>&#160;</xsl:otherwise>
    </xsl:choose>
  </xsl:template>
</xsl:stylesheet>
